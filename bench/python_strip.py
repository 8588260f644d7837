"""Python's email doing clipsum's job: parses each message, keeps its first
text/plain part as the message's body and writes the message to standard
output. Usage: python_strip.py FILE|DIRECTORY..."""
import email
import email.policy
import os
import sys


def strip(path, out):
    with open(path, "rb") as f:
        message = email.message_from_binary_file(f, policy=email.policy.compat32)
    text = next((p for p in message.walk() if p.get_content_type() == "text/plain" and not p.is_multipart()), None)
    if text is not None and text is not message:
        for field in ("Content-Type", "Content-Transfer-Encoding"):
            del message[field]
            if text[field] is not None:
                message[field] = text[field]
        message.set_payload(text.get_payload())
    out.write(message.as_bytes())


def main():
    out = sys.stdout.buffer
    for argument in sys.argv[1:]:
        if os.path.isdir(argument):
            for name in sorted(os.listdir(argument)):
                if not name.startswith("."):
                    strip(os.path.join(argument, name), out)
        else:
            strip(argument, out)


main()
