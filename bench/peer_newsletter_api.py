#!/usr/bin/python3
"""Peer of bench_newsletter api: the best a client does one request at a time.
Posts COUNT send requests, one after the other over one kept-alive HTTP
connection, to the same fake API, each with the body our transport sends
(indented JSON: key, message with text, subject, sender, recipient and mid,
Reply-To header), and reads each reply before the next request.

    /usr/bin/python3 peer_newsletter_api.py PORT COUNT

Prints RESULT <seconds> sent=<replies with status "sent"> cpu=<CPU seconds>.
"""
import http.client
import json
import sys
import time


def main():
    port = int(sys.argv[1])
    count = int(sys.argv[2])
    headers = {"Content-Type": "application/x-www-form-urlencoded"}
    connection = http.client.HTTPConnection("127.0.0.1", port)
    sent = 0
    start = time.perf_counter()
    cpu_start = time.process_time()
    for mid in range(1, count + 1):
        sender = "news@example.test"
        body = json.dumps({
            "key": "Kp7Tz2QwRm5Xv8Bn4Hs6Jd",
            "message": {"text": "Dear reader,\nthis month's menu is out.", "auto_text": True,
                        "subject": "Newsletter", "from_email": sender,
                        "to": [{"email": "r%d@example.test" % mid, "type": "to"}],
                        "metadata": {"mid": mid}},
            "headers": {"Reply-To": sender},
        }, indent=4).encode("utf-8")
        connection.request("POST", "/api/1.0/messages/send.json", body, headers)
        reply = json.loads(connection.getresponse().read())
        if reply and reply[-1].get("status") == "sent":
            sent += 1
    seconds = time.perf_counter() - start
    print("RESULT %.6f sent=%d cpu=%.6f" % (seconds, sent, time.process_time() - cpu_start))
    return 0 if sent == count else 1


if __name__ == "__main__":
    sys.exit(main())
