"""What a check reads from one parsed header block, shared by the Python peers."""


def fields_checksum(msg):
    """Reads the sender's name and address, the decoded subject and the date
    of a message parsed with email.policy.default; returns a checksum of them
    so that nothing is skipped."""
    checksum = 0
    try:
        sender = msg["From"]
        if sender is not None and sender.addresses:
            a = sender.addresses[0]
            checksum += len(a.display_name) + len(a.addr_spec)
    except Exception:  # a header the parser cannot read: go on
        pass
    subject = msg["Subject"]
    checksum += len(str(subject)) if subject is not None else 0
    try:
        date = msg["Date"]
        if date is not None and date.datetime is not None:
            checksum += date.datetime.day
    except Exception:
        pass
    return checksum
