// The program's message box: buttons and their places, Enter and Escape for
// every button set, the focused button, the text's layout and growth, and
// text shown as written.
#include <QDir>
#include <QFileInfo>
#include <QGuiApplication>
#include <QPainter>
#include <QLabel>
#include <QPushButton>
#include <QScreen>
#include <QScrollArea>
#include <QScrollBar>
#include <QStringDecoder>
#include <QTest>
#include <QTimer>

#include "app/app_harness.h"
#include "app/msg_box.h"
#include "app/pictures.h"
#include "app/plain_text.h"
#include "app/qt_text.h"
#include "engine/form_main.h"

using namespace kalmuro;

class MsgBoxTest : public QObject {
    Q_OBJECT

private:
    static QStringList Captions(const TqvFormMsgBox& box) {
        QStringList captions;
        for (QPushButton* b : box.Buttons()) captions << b->text();
        return captions;
    }
    static QList<int> Lefts(const TqvFormMsgBox& box) {
        QList<int> lefts;
        for (QPushButton* b : box.Buttons()) lefts << b->x();
        return lefts;
    }
    // Shows the box, presses the key and returns the code it closed with
    // (-1 while it is still open).
    static int Press(int buttons, int focused, Qt::Key key) {
        TqvFormMsgBox box(nullptr, "Messaggio", "Titolo", buttons, miQuestion, focused);
        box.show();
        if (!QTest::qWaitForWindowExposed(&box)) return -2;
        QTest::keyClick(QApplication::focusWidget() ? QApplication::focusWidget()
                                                    : static_cast<QWidget*>(&box),
                        key);
        return box.isVisible() ? -1 : box.result();
    }

private Q_SLOTS:
    void buttonSetsAndPlaces_data() {
        QTest::addColumn<int>("set");
        QTest::addColumn<QStringList>("captions");
        QTest::addColumn<QList<int>>("lefts");
        // Sets of one and two buttons centre on the overall width 250, the
        // set of three on the client width 242, 8 pixels apart.
        QTest::newRow("ok") << 0 << QStringList{QStringLiteral("OK")} << QList<int>{87};
        QTest::newRow("ok-annulla") << 1
                                    << QStringList{QStringLiteral("OK"), QStringLiteral("&Annulla")}
                                    << QList<int>{46, 129};
        QTest::newRow("si-no") << 2 << QStringList{QStringLiteral("&Si"), QStringLiteral("&No")}
                               << QList<int>{46, 129};
        QTest::newRow("si-no-annulla")
            << 3
            << QStringList{QStringLiteral("&Si"), QStringLiteral("&No"), QStringLiteral("&Annulla")}
            << QList<int>{0, 83, 166};
        QTest::newRow("none") << 7 << QStringList{} << QList<int>{};
    }
    void buttonSetsAndPlaces() {
        QFETCH(int, set);
        QFETCH(QStringList, captions);
        QFETCH(QList<int>, lefts);
        TqvFormMsgBox box(nullptr, "Ciao", "Titolo", set, miInformation, 0);
        QCOMPARE(Captions(box), captions);
        apptest::Grab(box, QTest::currentDataTag());
        QCOMPARE(Lefts(box), lefts);
        // A one-word text keeps the design size, with the buttons at 53.
        QCOMPARE(box.size(), QSize(242, 86));
        for (QPushButton* b : box.Buttons()) {
            QCOMPARE(b->size(), QSize(75, 25));
            QCOMPARE(b->y(), 53);
        }
    }

    void enterAndEscape_data() {
        QTest::addColumn<int>("set");
        QTest::addColumn<int>("focused");
        QTest::addColumn<int>("enter");
        QTest::addColumn<int>("escape");
        QTest::newRow("ok") << 0 << 0 << int(mrOk) << int(mrOk);
        QTest::newRow("ok-annulla") << 1 << 0 << int(mrOk) << int(mrCancel);
        QTest::newRow("ok-annulla-focus-2") << 1 << 2 << int(mrCancel) << int(mrCancel);
        QTest::newRow("si-no") << 2 << 1 << int(mrYes) << int(mrNo);
        QTest::newRow("si-no-focus-2") << 2 << 2 << int(mrNo) << int(mrNo);
        QTest::newRow("si-no-focus-3-ignored") << 2 << 3 << int(mrYes) << int(mrNo);
        QTest::newRow("si-no-annulla") << 3 << 0 << int(mrYes) << int(mrCancel);
        QTest::newRow("si-no-annulla-focus-2") << 3 << 2 << int(mrNo) << int(mrCancel);
        QTest::newRow("si-no-annulla-focus-3") << 3 << 3 << int(mrCancel) << int(mrCancel);
    }
    void enterAndEscape() {
        QFETCH(int, set);
        QFETCH(int, focused);
        QFETCH(int, enter);
        QFETCH(int, escape);
        QCOMPARE(Press(set, focused, Qt::Key_Return), enter);
        QCOMPARE(Press(set, focused, Qt::Key_Enter), enter);
        QCOMPARE(Press(set, focused, Qt::Key_Escape), escape);
    }

    void focusedButtonHasTheFocus() {
        TqvFormMsgBox box(nullptr, "Domanda", "Conferma", mbYesNoCancel, miQuestion, 3);
        box.show();
        QVERIFY(QTest::qWaitForWindowExposed(&box));
        QTRY_COMPARE(QApplication::focusWidget(), static_cast<QWidget*>(box.Buttons()[2]));
        QCOMPARE(box.FocusedButton(), box.Buttons()[2]);
    }

    void closedOtherwiseGivesCancel() {
        TqvFormMsgBox box(nullptr, "Domanda", "Conferma", mbYesNo, miQuestion, 0);
        box.show();
        QVERIFY(QTest::qWaitForWindowExposed(&box));
        box.close();
        QCOMPARE(box.result(), int(mrCancel));
    }

    void shortTextIsCentredInTheFrame() {
        TqvFormMsgBox box(nullptr, "Ciao", "Titolo", mbOk, miInformation, 0);
        QLabel* label = box.TextLabel();
        // The text is at least the design's 72 pixels wide, centred in the
        // 175 x 24 scrolling area.
        QCOMPARE(label->width(), 72);
        QCOMPARE(box.TextArea()->size(), QSize(175, 24));
        QCOMPARE(label->x(), (175 - 72) / 2);
        QCOMPARE(label->y(), (24 - label->height()) / 2);
        QCOMPARE(label->font().pixelSize(), 13);
        QVERIFY(QFontInfo(label->font()).fixedPitch());
    }

    void lineBreaksAndGrowth() {
        const QFontMetrics metrics(TqvFormMsgBox(nullptr, "x", "t", 0, 0, 0).TextLabel()->font());
        const std::string longLine(60, 'x');
        TqvFormMsgBox box(nullptr, "prima riga\\n" + longLine + "\\nterza", "Titolo", mbOk,
                          miWarning, 0);
        QLabel* label = box.TextLabel();
        QCOMPARE(label->text(), QStringLiteral("prima riga\n") +
                                    QString(60, QLatin1Char('x')) + QStringLiteral("\nterza"));
        // Wider and taller by exactly what the text needs beyond the
        // design area; the text then starts at the area's corner.
        const int textWidth = label->width();
        QVERIFY(textWidth >= metrics.horizontalAdvance(QString(60, QLatin1Char('x'))));
        QCOMPARE(box.width(), 242 + textWidth - 175);
        QCOMPARE(box.height(), 86 + label->height() - 24);
        apptest::Grab(box, "box-three-lines");
        QCOMPARE(label->pos(), QPoint(0, 0));
        // The OK button follows the bottom edge and the centre.
        QCOMPARE(box.Buttons()[0]->y(), box.height() - 33);
        QCOMPARE(box.Buttons()[0]->x(), (box.width() + 8 - 75) / 2);
    }

    void textLargerThanTheScreenScrolls() {
        std::string text;
        for (int i = 0; i < 200; ++i) text += "riga " + std::to_string(i) + "\\n";
        text += std::string(400, 'w');
        TqvFormMsgBox box(nullptr, text, "Titolo", mbOk, miInformation, 0);
        const QSize screen = QGuiApplication::primaryScreen()->size();
        QCOMPARE(box.width() + 8, screen.width() - 20);
        QCOMPARE(box.height() + 30, screen.height() - 20);
        box.show();
        QVERIFY(QTest::qWaitForWindowExposed(&box));
        QVERIFY(box.TextArea()->verticalScrollBar()->maximum() > 0);
        // The line wider than the screen is wrapped, not scrolled sideways.
        QCOMPARE(box.TextArea()->horizontalScrollBar()->maximum(), 0);
        QCOMPARE(box.TextLabel()->text().remove(QLatin1Char('\n')),
                 DisplayText(text).remove(QLatin1Char('\n')));
    }

    // Whatever the text, the box keeps within the free part of the screen,
    // never scrolls sideways, and every character of the text can be
    // scrolled into sight.
    void longTextsWrapWithinTheScreen_data() {
        QTest::addColumn<QString>("message");
        std::string subject;
        while (subject.size() < 4000) subject += "offerta imperdibile ";
        subject += std::string(700, 'z') + " <b>x</b> <img src='/dev/zero'> \x80";  // €
        QTest::newRow("subject-5000")
            << Win1252ToQString("Inserire tra gli oggetti bloccati \\n" + subject + " ?");
        QTest::newRow("second-line-too-wide")
            << QStringLiteral("Prima riga\\n") + QString(150, QLatin1Char('m'));
        std::string lines;
        for (int i = 0; i < 80; ++i) lines += "riga numero " + std::to_string(i) + "\\n";
        QTest::newRow("taller-than-the-screen") << Win1252ToQString(lines);
    }
    void longTextsWrapWithinTheScreen() {
        QFETCH(QString, message);
        const std::string text = QStringToWin1252(message);
        TqvFormMsgBox box(nullptr, text, "Conferma", mbYesNo, miQuestion, 1);
        box.show();
        QVERIFY(QTest::qWaitForWindowExposed(&box));
        apptest::Grab(box, QTest::currentDataTag());
        const QRect available = box.screen()->availableGeometry();
        QVERIFY2(available.contains(box.frameGeometry()),
                 qPrintable(QStringLiteral("%1x%2").arg(box.width()).arg(box.height())));
        QLabel* label = box.TextLabel();
        QCOMPARE(label->textFormat(), Qt::PlainText);
        // Only line breaks were added.
        QCOMPARE(label->text().remove(QLatin1Char('\n')),
                 DisplayText(text).remove(QLatin1Char('\n')));
        QScrollArea* area = box.TextArea();
        QCOMPARE(area->horizontalScrollBar()->maximum(), 0);
        QVERIFY(label->x() + label->width() <= area->viewport()->width());
        QVERIFY(area->verticalScrollBar()->maximum() + area->viewport()->height() >=
                label->y() + label->height());
        for (QPushButton* b : box.Buttons()) QVERIFY(box.rect().contains(b->geometry()));
    }

    void untrustedTextIsShownAsWritten() {
        const std::string hostile = "<img src='/dev/zero'><b>x</b>&amp; \x80";  // €
        TqvFormMsgBox box(nullptr, hostile, "<b>t</b>", mbOk, miWarning, 0);
        QCOMPARE(box.TextLabel()->textFormat(), Qt::PlainText);
        QCOMPARE(box.TextLabel()->text(),
                 QStringLiteral("<img src='/dev/zero'><b>x</b>&amp; ") + QChar(0x20AC));
        QCOMPARE(box.windowTitle(), QStringLiteral("<b>t</b>"));
        QVERIFY(box.IconLabel() != nullptr);
    }

    void wrappersGiveTitlesButtonsAndAnswers() {
        struct Seen {
            QString Title;
            QStringList Captions;
        };
        QList<Seen> seen;
        Qt::Key key = Qt::Key_Return;
        QTimer poll;
        poll.setInterval(5);
        connect(&poll, &QTimer::timeout, [&] {
            auto* box = qobject_cast<TqvFormMsgBox*>(QApplication::activeModalWidget());
            if (box == nullptr || box->property("seen").toBool()) return;
            box->setProperty("seen", true);
            seen.append({box->windowTitle(), Captions(*box)});
            QTimer::singleShot(0, box, [box, key] { QTest::keyClick(box, key); });
        });
        poll.start();
        ShowInformation("Fatto");
        ShowError("Guasto");
        QVERIFY(AskConfirmation("Procedere ?", 1));
        key = Qt::Key_Escape;
        QVERIFY(!AskConfirmation("Procedere ?", 1));
        key = Qt::Key_Return;
        QVERIFY(!AskConfirmation("Procedere ?", 2));  // the focus starts on No
        QCOMPARE(seen.size(), 5);
        QCOMPARE(seen[0].Title, QStringLiteral("Informazione"));
        QCOMPARE(seen[1].Title, QStringLiteral("Errore"));
        QCOMPARE(seen[2].Title, QStringLiteral("Conferma"));
        QCOMPARE(seen[2].Captions, (QStringList{QStringLiteral("&Si"), QStringLiteral("&No")}));
    }

    void win1252RoundTripsEveryByte() {
        std::string all;
        for (int b = 0; b < 256; ++b) all += static_cast<char>(b);
        const QString text = Win1252ToQString(all);
        QCOMPARE(text.size(), 256);
        QCOMPARE(QStringToWin1252(text), all);
        // Where Windows-1252 parts from Latin-1, and what it cannot hold.
        QCOMPARE(text[0x80], QChar(0x20AC));
        QCOMPARE(text[0x9F], QChar(0x0178));
        QCOMPARE(text[0x81], QChar(0x0081));
        QCOMPARE(QStringToWin1252(QStringLiteral("\u0153\u4E2D") + QString::fromUcs4(U"\U0001F600")),
                 std::string("\x9C??"));
        // The ICU decoder agrees where Qt has one.
        QStringDecoder icu("windows-1252");
        if (icu.isValid()) QCOMPARE(QString(icu(QByteArray::fromStdString(all))), text);
    }

    void everyPictureDraws() {
        // Every picture compiled in draws something; the program's icon has
        // the tray's small sizes drawn from its simplified picture.
        const QDir pictures(QStringLiteral(":/pictures"));
        PicturePixmap(QStringLiteral("kalmuro"), QSize(1, 1));  // registers the pictures
        const QStringList names = QDir(QStringLiteral(":/pictures")).entryList();
        QVERIFY(names.size() >= 25);
        QImage sheet(40 * (names.size() + 2), 40, QImage::Format_ARGB32);
        sheet.fill(Qt::lightGray);
        QPainter painter(&sheet);
        int x = 0;
        for (const QString& file : names) {
            const QImage image =
                PicturePixmap(QFileInfo(file).completeBaseName(), QSize(32, 32)).toImage();
            int opaque = 0;
            for (int py = 0; py < 32; ++py)
                for (int px = 0; px < 32; ++px) opaque += qAlpha(image.pixel(px, py)) > 128;
            QVERIFY2(opaque > 20, qPrintable(file));
            painter.drawImage(x + 4, 4, image);
            x += 40;
        }
        const QIcon icon = ProgramIcon();
        for (const int size : {16, 22}) {
            const QImage small = icon.pixmap(size, size).toImage();
            QCOMPARE(small.size(), QSize(size, size));
            painter.drawImage(x + 4, 4, small);
            x += 30;
        }
        painter.end();
        const QByteArray dir = qgetenv("KALMURO_GRAB_DIR");
        if (!dir.isEmpty()) sheet.save(QString::fromLocal8Bit(dir) + QStringLiteral("/pictures.png"));
    }

    void plainTextHelpers() {
        QCOMPARE(DisplayText("a\\nb"), QStringLiteral("a\nb"));
        QCOMPARE(NoMnemonic(QStringLiteral("R&D")), QStringLiteral("R&&D"));
        QCOMPARE(NotificationText(QStringLiteral("<b>&</b>")).contains(QLatin1Char('<')), false);
        QCOMPARE(PlainToolTip(QString()), QString());
        QVERIFY(PlainToolTip(QStringLiteral("a > b & c")).contains(QStringLiteral("a &gt; b &amp; c")));
    }
};

QTEST_MAIN(MsgBoxTest)
#include "msg_box_test.moc"
