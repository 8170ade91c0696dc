#!/usr/bin/python3
"""Peer of bench_smtp: Python's smtplib + email build and send the same COUNT
mails (text part + the PDF as an attachment taken from the same Base64 mail
data document), one SMTP connection per mail, to the same server.

    /usr/bin/python3 peer_smtp.py PORT PDF [COUNT]

Prints RESULT <seconds for all mails> sent=<n> cpu=<CPU seconds of this process>.
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
    count = int(sys.argv[3]) if len(sys.argv) > 3 else 200
    mail_data = json.dumps({"attachments": [{"type": "application/pdf", "name": "objednavka.pdf",
                                             "content": base64.b64encode(pdf).decode("ascii")}]})
    body = "Celkový súčet:3  x \tGuláš\nObjednávka sa nachádza v prílohe."
    subject = "Firma - Objednávka - 08.12.2026, Obed, dodávateľ: Kuchyňa"
    sent = 0
    start = time.perf_counter()
    cpu_start = time.process_time()
    for _ in range(count):
        msg = MIMEMultipart()
        msg["From"] = "kuchyna@example.com"
        msg["To"] = "dodavatel@example.com"
        msg["Subject"] = subject
        msg.attach(MIMEText(body, "plain", "utf-8"))
        for element in json.loads(mail_data)["attachments"]:
            maintype, subtype = element["type"].split("/", 1)
            part = MIMEApplication(base64.b64decode(element["content"]), subtype)
            part.add_header("Content-Disposition", "attachment", filename=element["name"])
            msg.attach(part)
        with smtplib.SMTP("127.0.0.1", port) as smtp:
            # send_message flattens with CRLF line ends, as SMTP wants them.
            smtp.send_message(msg)
        sent += 1
    seconds = time.perf_counter() - start
    cpu = time.process_time() - cpu_start
    print("RESULT %.6f sent=%d cpu=%.6f" % (seconds, sent, cpu))


if __name__ == "__main__":
    main()
