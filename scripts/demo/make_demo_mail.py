#!/usr/bin/env python3
"""Writes the demo mailbox of one account into a Maildir.

usage: make_demo_mail.py MAILDIR {casa|ufficio} [--now EPOCH]

"casa" is a private mailbox, "ufficio" a work one. Between them they hold
Italian and English newsletters, personal mail, spam whose sender and
subject use encoded words (Q and B; ISO-8859-1, Windows-1252 and one UTF-8), a subject carrying
markup, a message without a subject, one without sender and subject, one
with an unreadable date and one large message with an attachment. Dates lie
in the hours before --now (default: the current time), newest last, so the
list reads like a mailbox that filled up overnight. The same arguments give
the same files.
"""
import argparse
import base64
import email.utils
import os
import random
import sys

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "dovecot"))
from gen_maildir import chown_like_parent, encoded_word, makedirs_owned  # noqa: E402

RCPT = {"casa": "Mario Rossi <mario.rossi@posta.example.it>",
        "ufficio": "Mario Rossi <m.rossi@studio-rossi.example.it>"}


def encoded(text, charset, enc):
    """Encoded words of at most 75 characters each, folded onto new lines as
    mail programs write them. Words are cut only at blanks, and the blank is
    left out of both: the program keeps the folding blank between two encoded
    words as the one blank of the text."""
    words, piece = [], ""
    for token in text.split(" "):
        joined = piece + " " + token if piece else token
        if piece and len(encoded_word(joined, charset, enc)) > 75:
            words.append(encoded_word(piece, charset, enc))
            joined = token
        piece = joined
    words.append(encoded_word(piece, charset, enc))
    return "\n ".join(words)


def q(text, charset="iso-8859-1"):
    return encoded(text, charset, "Q")


def b(text, charset="iso-8859-1"):
    return encoded(text, charset, "B")


# Each message: (minutes before now or None for a broken date, From or None,
# Subject or None, body lines, extra header lines). Header values are already
# in their wire form; bodies are plain ASCII or quoted-printable Latin-1.
CASA = [
    (620, "Giulia Bianchi <giulia.bianchi@posta.example.it>",
     "Cena di sabato?",
     ["Ciao Mario,", "", "sabato sera siamo da noi: porti tu il dolce?",
      "Ci sono anche Luca e Sara.", "", "Un abbraccio,", "Giulia"], []),
    (575, "%s <newsletter@cucina.example.it>" % q("La Cucina di Casa"),
     q("Le ricette della settimana: risotto, tiramisù e caffè"),
     ["Questa settimana: risotto ai funghi, tiramisu' classico,",
      "e il segreto di un buon caffe' alla moka.", "",
      "Per non ricevere piu' la newsletter: rispondi con CANCELLA."],
     ["List-Unsubscribe: <mailto:cancella@cucina.example.it>"]),
    (540, "%s <premi@vincite-facili.example>" % q("Ufficio Premi Nazionale"),
     q("Complimenti! Hai vinto un buono da 1.000 € - ritiralo entro oggi", "windows-1252"),
     ["Gentile cliente,", "", "sei stato estratto! Clicca qui per ritirare il premio."],
     ["X-Spam-Flag: YES"]),
    (480, "The Weekly Digest <digest@news.example.com>",
     b("This week in open source: 12 releases you missed — and one you’ll love", "utf-8"),
     ["Hello,", "", "here is your weekly digest of releases and news.",
      "", "Unsubscribe: https://news.example.com/u/8123"],
     ["List-Id: <weekly.news.example.com>"]),
    (455, "%s <offerte@farmacia-online.example>" % b("Farmacia Online 24h"),
     b("Farmaci a prezzi scontatissimi – spedizione gratuita in 24 ore", "windows-1252"),
     ["Ordina ora, nessuna ricetta necessaria."], ["X-Spam-Flag: YES"]),
    (400, "Luca Ricci <luca.ricci@example.org>", None,
     ["Ecco le foto della gita, le altre domani.", "", "Luca"], []),
    (None, "Paolo Greco <paolo.greco@posta.example.it>",
     "Foto delle vacanze",
     ["Ciao! Ti mando il link all'album:", "https://foto.example.it/album/4411"], []),
    (300, "Crypto Advisor <advisor@crypto-gains.example>",
     "Double your bitcoin in 24 hours - guaranteed",
     ["Dear friend,", "", "our algorithm doubles every deposit. Act now!"],
     ["X-Spam-Flag: YES"]),
    (210, "%s <banca@avvisi.example.it>" % q("Banca Popolare - Avvisi"),
     q("Il tuo estratto conto di novembre è disponibile"),
     ["Gentile cliente,", "", "l'estratto conto di novembre e' disponibile",
      "nell'area riservata."], []),
    (150, "%s %s <anna.colombo@example.com>" % (q("Anna"), q("Colombo")),
     "Re: lunch on Friday?",
     ["Friday works for me, 12:30 at the usual place?", "", "Anna"], []),
    (95, "Sconti Pazzi <promo@super-saldi.example>",
     "<b>SALDI</b> &amp; <img src='/dev/zero'> fino al 90%",
     ["Solo per oggi!"], ["X-Spam-Flag: YES"]),
    (20, "Studio Conti <studio@conti.example.it>",
     "Documenti per il mutuo (allegati)",
     ["Gentile signor Rossi,", "", "in allegato i documenti da firmare.",
      "", "Cordiali saluti,", "Studio Conti"], ["@attachment"]),
]

UFFICIO = [
    (700, "Chiara Moretti <chiara.moretti@studio-rossi.example.it>",
     q("Riunione di lunedì: ordine del giorno"),
     ["Buongiorno a tutti,", "", "lunedi' alle 9:30 in sala grande:",
      "1. bilancio del trimestre", "2. nuovi clienti", "3. varie", "", "Chiara"], []),
    (610, "Amministrazione Fornitori <fatture@fornitore.example.it>",
     "Fattura n. 2024/118 del 28/11",
     ["In allegato la fattura n. 2024/118.", "", "Amministrazione"], []),
    (560, "DevOps Weekly <hello@devops-weekly.example>",
     "Issue 412: observability on a budget",
     ["This week: tracing without a vendor, and a look at log sampling."],
     ["List-Id: <devops-weekly.example>"]),
    (505, "%s <news@promo-viaggi.example>" % b("Viaggi Last Minute"),
     b("Ultimi posti: Maldive a 299 € tutto incluso!!!", "windows-1252"),
     ["Prenota subito!"], ["X-Spam-Flag: YES"]),
    (430, None, None, ["(nessun testo)"], []),
    (380, "Stefano Gallo <stefano.gallo@cliente.example.com>",
     "Invitation: project review @ Tue 10:00 - 11:00",
     ["You have been invited to: project review", "When: Tuesday 10:00 - 11:00 (CET)",
      "Where: meeting room 2"], []),
    (260, "%s <info@editore.example.it>" % q("Novità Editoriali"),
     q("Novità di dicembre: il nostro catalogo è online"),
     ["Sfoglia il catalogo di dicembre sul nostro sito."],
     ["List-Unsubscribe: <mailto:esci@editore.example.it>"]),
    (180, "Lottery Office <claims@winner-prize.example>",
     b("URGENT: claim your €2,500,000 prize now", "windows-1252"),
     ["Send us your bank details to receive the prize."], ["X-Spam-Flag: YES"]),
    (60, "IT Support <helpdesk@studio-rossi.example.it>",
     "Manutenzione programmata del server di posta",
     ["Sabato dalle 22:00 alle 23:00 la posta non sara' raggiungibile."], []),
]


def attachment(rng, kib):
    """A multipart body with a pseudo-random PDF of about KIB kibibytes."""
    data = rng.randbytes(kib * 1024)
    b64 = base64.encodebytes(data).decode("ascii").splitlines()
    boundary = "=_demo_boundary_4711"
    head = ['Content-Type: multipart/mixed; boundary="%s"' % boundary]
    body = ["This is a multi-part message in MIME format.", "", "--" + boundary,
            "Content-Type: text/plain; charset=us-ascii", ""]
    tail = ["", "--" + boundary,
            'Content-Type: application/pdf; name="documenti_mutuo.pdf"',
            "Content-Transfer-Encoding: base64",
            'Content-Disposition: attachment; filename="documenti_mutuo.pdf"', ""]
    return head, body, tail + b64 + ["--" + boundary + "--"]


def build(account, index, entry, now, rng):
    minutes, sender, subject, text, extra = entry
    rcpt = RCPT[account]
    domain = rcpt.split("@")[1].rstrip(">")
    lines = ["Return-Path: <%s>" % (sender.split("<")[-1].rstrip(">") if sender else ""),
             "Received: from mx%d.example.net (mx%d.example.net [192.0.2.%d])"
             % (index % 3, index % 3, 10 + index),
             "\tby mail.%s with ESMTP id %08X" % (domain, rng.getrandbits(32)),
             "\tfor <%s>; %s" % (rcpt.split("<")[1].rstrip(">"),
                                 email.utils.formatdate(now - 60 * (minutes or 1), localtime=True))]
    if sender is not None:
        lines.append("From: " + sender)
    lines.append("To: " + rcpt)
    if subject is not None:
        lines.append("Subject: " + subject)
    if minutes is None:
        lines.append("Date: domani mattina, verso le dieci")
    else:
        lines.append("Date: " + email.utils.formatdate(now - 60 * minutes, localtime=True))
    lines.append("Message-ID: <%d.%s.%d@demo.example>" % (now - 60 * (minutes or 1), account, index))
    lines.append("MIME-Version: 1.0")
    body = list(text)
    if "@attachment" in extra:
        head, pre, post = attachment(rng, 2600)
        lines += head
        body = pre + body + post
    else:
        lines += ["Content-Type: text/plain; charset=us-ascii", "Content-Transfer-Encoding: 7bit"]
    lines += [x for x in extra if not x.startswith("@")]
    return ("\n".join(lines + [""] + body) + "\n").encode("ascii")


def main():
    ap = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    ap.add_argument("maildir")
    ap.add_argument("account", choices=["casa", "ufficio"])
    ap.add_argument("--now", type=int, default=None)
    a = ap.parse_args()
    # Whole minutes keep the files the same within a minute.
    now = a.now if a.now is not None else int(email.utils.time.time()) // 60 * 60
    rng = random.Random(a.account)
    for sub in ("cur", "new", "tmp"):
        makedirs_owned(os.path.join(a.maildir, sub))
    messages = CASA if a.account == "casa" else UFFICIO
    for i, entry in enumerate(messages, 1):
        data = build(a.account, i, entry, now, rng)
        # Names sort in delivery order, so POP3 message n is entry n.
        path = os.path.join(a.maildir, "new", "%d.M%06dP1.demo" % (now - 86400 + i, i))
        with open(path, "wb") as f:
            f.write(data)
        chown_like_parent(path)
    print("%d messages for %s" % (len(messages), a.account))
    return 0


if __name__ == "__main__":
    sys.exit(main())
