#!/usr/bin/python3
"""Peer of bench_newsletter smtp: Python's smtplib and email build and send
COUNT newsletter mails (short text part + the PDF attached, taken from the
same Base64 mail data document a queued row holds) over ONE connection,
send_message in a loop, to the same server.

    /usr/bin/python3 peer_newsletter_smtp.py PORT PDF COUNT

Prints RESULT <seconds> sent=<n> cpu=<CPU seconds of this process>.
"""
import base64
import json
import smtplib
import sys
import time
from email.mime.application import MIMEApplication
from email.mime.multipart import MIMEMultipart
from email.mime.text import MIMEText


def main():
    port = int(sys.argv[1])
    pdf = open(sys.argv[2], "rb").read()
    count = int(sys.argv[3])
    mail_data = json.dumps({"attachments": [{"type": "application/pdf", "name": "menu.pdf",
                                             "content": base64.b64encode(pdf).decode("ascii")}]})
    sent = 0
    start = time.perf_counter()
    cpu_start = time.process_time()
    with smtplib.SMTP("127.0.0.1", port) as smtp:
        for i in range(1, count + 1):
            msg = MIMEMultipart()
            msg["From"] = "news@example.test"
            msg["To"] = "r%d@example.test" % i
            msg["Subject"] = "Newsletter"
            msg.attach(MIMEText("Dear reader,\nthis month's menu is attached.", "plain", "utf-8"))
            for element in json.loads(mail_data)["attachments"]:
                part = MIMEApplication(base64.b64decode(element["content"]), element["type"].split("/", 1)[1])
                part.add_header("Content-Disposition", "attachment", filename=element["name"])
                msg.attach(part)
            smtp.send_message(msg)
            sent += 1
    seconds = time.perf_counter() - start
    print("RESULT %.6f sent=%d cpu=%.6f" % (seconds, sent, time.process_time() - cpu_start))
    return 0 if sent == count else 1


if __name__ == "__main__":
    sys.exit(main())
