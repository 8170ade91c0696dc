#!/usr/bin/python3
"""Reads one message with Python's standard email package and prints what it
found as JSON, so that tests can compare our rendering with an independent
parser. Run it with /usr/bin/python3:

    /usr/bin/python3 smtp-eml-dump.py FILE.eml

Output: {"subject", "from", "to", "cc", "reply_to", "bcc", "date",
"in_reply_to", "content_type", "defects": [...], "parts": [{"content_type",
"charset", "filename", "disposition", "text" (text parts, line ends as LF),
"base64" (the decoded bytes, Base64 again), "size", "defects"}]}.
Header values are decoded (RFC 2047) and empty when absent.
"""

import base64
import email
import email.policy
import json
import sys


def header(msg, name):
    value = msg[name]
    return "" if value is None else str(value)


def main():
    with open(sys.argv[1], "rb") as f:
        msg = email.message_from_bytes(f.read(), policy=email.policy.default)
    out = {
        "subject": header(msg, "Subject"),
        "from": header(msg, "From"),
        "to": header(msg, "To"),
        "cc": header(msg, "Cc"),
        "reply_to": header(msg, "Reply-To"),
        "bcc": header(msg, "Bcc"),
        "date": header(msg, "Date"),
        "in_reply_to": header(msg, "In-Reply-To"),
        "content_type": msg.get_content_type(),
        "defects": [type(d).__name__ for d in msg.defects],
        "parts": [],
    }
    for part in msg.walk():
        if part.is_multipart():
            out["defects"] += [type(d).__name__ for d in part.defects]
            continue
        payload = part.get_payload(decode=True) or b""
        entry = {
            "content_type": part.get_content_type(),
            "charset": part.get_content_charset() or "",
            "filename": part.get_filename() or "",
            "disposition": part.get_content_disposition() or "",
            "base64": base64.b64encode(payload).decode("ascii"),
            "size": len(payload),
            "defects": [type(d).__name__ for d in part.defects],
        }
        if part.get_content_maintype() == "text":
            entry["text"] = part.get_content().replace("\r\n", "\n")
        out["parts"].append(entry)
    json.dump(out, sys.stdout)
    return 0


if __name__ == "__main__":
    sys.exit(main())
