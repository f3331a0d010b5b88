// What a screen reader and a keyboard user get: the viewer's text through
// Qt's accessibility layer (text, length, words and lines, where characters
// are), its caret and selection moved by the keyboard and told to the
// reader, the caret drawn; and a name worth hearing on every control of the
// main window, the settings dialog, the account editor and the message box.
#include <QAccessible>
#include <QApplication>
#include <QClipboard>
#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>
#include <QScrollBar>
#include <QSpinBox>
#include <QTableWidget>
#include <QTest>
#include <QToolButton>
#include <QTreeView>
#include <vector>

#include "app/app_harness.h"
#include "app/color_button.h"
#include "app/form_edit_account.h"
#include "app/form_main_window.h"
#include "app/form_message.h"
#include "app/form_setup.h"
#include "app/message_text_access.h"
#include "app/msg_box.h"
#include "app/qt_text.h"
#include "engine/form_main.h"

using namespace kalmuro;
using namespace kalmuro::apptest;

namespace {

// Lines end in CR LF, LF and CR alike; a tab, a control character and the
// bytes where Windows-1252 parts from Latin-1.
const std::vector<std::string> kLines = {
    "From: Mario <m@x.it>",
    "Subject: perch\xE8 \x80 5",  // perchè €
    "\tTab\x01"
    "fine",
    "seconda parola",
    "ultima riga",
};
const std::string kText =
    kLines[0] + "\r\n" + kLines[1] + "\r\n" + kLines[2] + "\n" + kLines[3] + "\r" + kLines[4];

QString Expected() {
    QStringList lines;
    for (const std::string& line : kLines) lines << Win1252ToQString(line);
    return lines.join(QLatin1Char('\n'));
}

// The offset of a line's first character in the text a reader gets.
int LineStart(int line) {
    int offset = 0;
    for (int i = 0; i < line; ++i) offset += static_cast<int>(kLines[i].size()) + 1;
    return offset;
}

QAccessibleTextInterface* TextOf(QWidget* widget) {
    QAccessibleInterface* iface = QAccessible::queryAccessibleInterface(widget);
    return iface != nullptr ? iface->textInterface() : nullptr;
}

struct TSeen {
    QAccessible::Event Type;
    int Cursor = -1, Start = -1, End = -1;
    QString Removed, Inserted;
};
std::vector<TSeen> gSeen;
QObject* gWatched = nullptr;

void RecordEvent(QAccessibleEvent* event) {
    if (event->object() != gWatched) return;
    TSeen seen;
    seen.Type = event->type();
    if (event->type() == QAccessible::TextCaretMoved)
        seen.Cursor = static_cast<QAccessibleTextCursorEvent*>(event)->cursorPosition();
    if (event->type() == QAccessible::TextSelectionChanged) {
        auto* selection = static_cast<QAccessibleTextSelectionEvent*>(event);
        seen.Start = selection->selectionStart();
        seen.End = selection->selectionEnd();
        seen.Cursor = selection->cursorPosition();
    }
    if (event->type() == QAccessible::TextUpdated) {
        auto* update = static_cast<QAccessibleTextUpdateEvent*>(event);
        seen.Removed = update->textRemoved();
        seen.Inserted = update->textInserted();
    }
    gSeen.push_back(seen);
}

// Every control a person reaches with Tab, and what a reader says of it.
struct TControl {
    QString Name, Description;
    QAccessible::Role Role;
};
void CollectControls(QAccessibleInterface* iface, std::vector<TControl>& out, int depth = 0) {
    if (iface == nullptr || depth > 30) return;
    const QAccessible::State state = iface->state();
    if (state.invisible) return;
    const QAccessible::Role role = iface->role();
    if (state.focusable && role != QAccessible::Dialog && role != QAccessible::Window &&
        role != QAccessible::ScrollBar)
        out.push_back(
            {iface->text(QAccessible::Name), iface->text(QAccessible::Description), role});
    // Rows and cells are named by their model; the containers are what
    // this looks at.
    if (role == QAccessible::List || role == QAccessible::Table || role == QAccessible::Tree)
        return;
    for (int i = 0; i < iface->childCount(); ++i) CollectControls(iface->child(i), out, depth + 1);
}

QString Unnamed(QWidget* window) {
    std::vector<TControl> controls;
    CollectControls(QAccessible::queryAccessibleInterface(window), controls);
    QStringList faults;
    if (controls.size() < 2) faults << QStringLiteral("no controls found");
    for (const TControl& c : controls) {
        if (c.Name.trimmed().size() < 2) faults << QStringLiteral("unnamed role %1").arg(c.Role);
        // A tip's markup read out instead of its words.
        if (c.Description.contains(QStringLiteral("<p")) ||
            c.Description.contains(QStringLiteral("&lt;")) || c.Name.contains(QLatin1Char('\n')))
            faults << c.Name + QStringLiteral(": ") + c.Description;
    }
    return faults.join(QStringLiteral("; "));
}

QString NameOf(QWidget* widget) {
    return QAccessible::queryAccessibleInterface(widget)->text(QAccessible::Name);
}
QString DescriptionOf(QWidget* widget) {
    return QAccessible::queryAccessibleInterface(widget)->text(QAccessible::Description);
}

}  // namespace

class AccessibilityTest : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void viewerTextAsGiven() {
        TMessageTextView view;
        view.SetText(kText);
        QAccessibleInterface* iface = QAccessible::queryAccessibleInterface(&view);
        QVERIFY(iface != nullptr);
        QCOMPARE(iface->role(), QAccessible::EditableText);
        QVERIFY(iface->state().readOnly && iface->state().multiLine);
        QAccessibleTextInterface* text = iface->textInterface();
        QVERIFY(text != nullptr);
        const QString expected = Expected();
        QCOMPARE(text->characterCount(), expected.size());
        QCOMPARE(text->text(0, text->characterCount()), expected);
        // Ranges that start or end on a line break, and out of range.
        QCOMPARE(text->text(LineStart(1) - 1, LineStart(1) + 7), QStringLiteral("\nSubject"));
        QCOMPARE(text->text(LineStart(2), LineStart(2) + 5), QStringLiteral("\tTab") + QChar(1));
        QCOMPARE(text->text(-5, 4), QStringLiteral("From"));
        QCOMPARE(text->text(expected.size() - 4, expected.size() + 10), QStringLiteral("riga"));

        // A bare CR LF at the end adds no empty line; an empty text is empty.
        view.SetText("a\r\nb\r\n");
        QCOMPARE(text->text(0, text->characterCount()), QStringLiteral("a\nb"));
        view.SetText("");
        QCOMPARE(text->characterCount(), 0);
        int start = 0, end = 0;
        QCOMPARE(text->textAtOffset(0, QAccessible::LineBoundary, &start, &end), QString());
    }

    void viewerTextByWordAndLine_data() {
        QTest::addColumn<int>("offset");
        QTest::addColumn<int>("boundary");
        QTest::addColumn<int>("which");  // -1 before, 0 at, 1 after
        QTest::addColumn<QString>("piece");
        QTest::addColumn<int>("start");
        const auto row = [](const char* name, int offset, QAccessible::TextBoundaryType type,
                            int which, const QString& piece, int start) {
            QTest::newRow(name) << offset << int(type) << which << piece << start;
        };
        const int subject = LineStart(1), last = LineStart(4);
        const auto u = [](const char* s) { return QString::fromUtf8(s); };
        row("word-inside", 8, QAccessible::WordBoundary, 0, u("Mario"), 6);
        row("word-8bit", subject + 11, QAccessible::WordBoundary, 0, u("perch\u00e8"), subject + 9);
        row("word-after", 1, QAccessible::WordBoundary, 1, u(": "), 4);
        row("word-before", 8, QAccessible::WordBoundary, -1, u(": "), 4);
        row("word-at-break", subject - 1, QAccessible::WordBoundary, 0, u("\n"), subject - 1);
        row("line-first", 3, QAccessible::LineBoundary, 0, u("From: Mario <m@x.it>\n"), 0);
        row("line-8bit", subject + 3, QAccessible::LineBoundary, 0,
            u("Subject: perch\u00e8 \u20ac 5\n"), subject);
        row("line-last", last + 2, QAccessible::LineBoundary, 0, u("ultima riga"), last);
        row("line-before", subject + 3, QAccessible::LineBoundary, -1, u("From: Mario <m@x.it>\n"),
            0);
        row("line-after", LineStart(3), QAccessible::LineBoundary, 1, u("ultima riga"), last);
        row("line-before-first", 2, QAccessible::LineBoundary, -1, QString(), -1);
        row("line-after-last", last, QAccessible::LineBoundary, 1, QString(), -1);
        row("char", subject + 14, QAccessible::CharBoundary, 0, u("\u00e8"), subject + 14);
        row("char-at-end", last + 11, QAccessible::CharBoundary, 0, QString(), last + 11);
        row("beyond", last + 12, QAccessible::LineBoundary, 0, QString(), -1);
    }
    void viewerTextByWordAndLine() {
        QFETCH(int, offset);
        QFETCH(int, boundary);
        QFETCH(int, which);
        QFETCH(QString, piece);
        QFETCH(int, start);
        TMessageTextView view;
        view.SetText(kText);
        QAccessibleTextInterface* text = TextOf(&view);
        QVERIFY(text != nullptr);
        const auto type = static_cast<QAccessible::TextBoundaryType>(boundary);
        int from = -2, to = -2;
        const QString got = which < 0   ? text->textBeforeOffset(offset, type, &from, &to)
                            : which > 0 ? text->textAfterOffset(offset, type, &from, &to)
                                        : text->textAtOffset(offset, type, &from, &to);
        QCOMPARE(got, piece);
        QCOMPARE(from, start);
        if (start >= 0) QCOMPARE(to, start + piece.size());
    }

    void caretAndSelectionFollowTheKeyboard() {
        TFormMessage f(nullptr, "Messaggio originale", kText);
        f.show();
        QVERIFY(QTest::qWaitForWindowExposed(&f));
        TMessageTextView& view = *f.Memo1();
        QAccessibleTextInterface* text = TextOf(&view);
        QVERIFY(text != nullptr);
        QCOMPARE(NameOf(&view), QStringLiteral("Testo del messaggio"));
        QVERIFY(DescriptionOf(&view).contains(QStringLiteral("Ctrl+C")));
        const auto key = [&](Qt::Key k, Qt::KeyboardModifiers m = {}) {
            QTest::keyClick(&view, k, m);
            return text->cursorPosition();
        };
        const auto selected = [&] {
            int start = -1, end = -1;
            text->selection(0, &start, &end);
            return text->selectionCount() == 0 ? QString()
                                               : QStringLiteral("%1-%2").arg(start).arg(end);
        };
        QCOMPARE(text->cursorPosition(), 0);
        QCOMPARE(key(Qt::Key_Right), 1);
        QCOMPARE(key(Qt::Key_Left), 0);
        QCOMPARE(key(Qt::Key_End), 20);
        QCOMPARE(key(Qt::Key_Right), LineStart(1));  // over the line break
        QCOMPARE(key(Qt::Key_Left), 20);
        QCOMPARE(key(Qt::Key_Right, Qt::ControlModifier), LineStart(1));
        QCOMPARE(key(Qt::Key_Right, Qt::ControlModifier), LineStart(1) + 9);  // "perchè"
        QCOMPARE(key(Qt::Key_Left, Qt::ControlModifier), LineStart(1));
        // The tab is one character over eight columns.
        QCOMPARE(key(Qt::Key_Down), LineStart(2));
        QCOMPARE(key(Qt::Key_Right), LineStart(2) + 1);
        QCOMPARE(view.Cursor(), (TTextPos{2, 8}));
        QCOMPARE(key(Qt::Key_End, Qt::ShiftModifier), LineStart(3) - 1);
        QCOMPARE(selected(), QStringLiteral("%1-%2").arg(LineStart(2) + 1).arg(LineStart(3) - 1));
        QCOMPARE(view.SelectedText(), QString::fromUtf8("Tab\u00B7fine"));
        // Up and Down keep the column aimed at across a shorter line.
        QCOMPARE(key(Qt::Key_Down), LineStart(3) + 14);
        QCOMPARE(selected(), QString());  // a move without Shift drops it
        QCOMPARE(key(Qt::Key_End), LineStart(3) + 14);
        QCOMPARE(key(Qt::Key_Down), LineStart(4) + 11);
        QCOMPARE(key(Qt::Key_Up), LineStart(3) + 14);
        QCOMPARE(key(Qt::Key_Home), LineStart(3));
        QCOMPARE(key(Qt::Key_Up, Qt::ShiftModifier), LineStart(2));
        QCOMPARE(selected(), QStringLiteral("%1-%2").arg(LineStart(2)).arg(LineStart(3)));
        QCOMPARE(key(Qt::Key_End, Qt::ControlModifier), Expected().size());
        QCOMPARE(key(Qt::Key_Home, Qt::ControlModifier | Qt::ShiftModifier), 0);
        QCOMPARE(selected(), QStringLiteral("0-%1").arg(Expected().size()));
        QCOMPARE(key(Qt::Key_PageDown), LineStart(4));  // fewer lines than a page
        QTest::keyClick(&view, Qt::Key_A, Qt::ControlModifier);
        QCOMPARE(selected(), QStringLiteral("0-%1").arg(Expected().size()));
        QGuiApplication::clipboard()->clear();
        QTest::keyClick(&view, Qt::Key_C, Qt::ControlModifier);
        QCOMPARE(QGuiApplication::clipboard()->text(), view.SelectedText());
        QVERIFY(view.SelectedText().startsWith(QStringLiteral("From: Mario")));

        // A reader may move the caret and select too.
        text->setCursorPosition(LineStart(3) + 2);
        QCOMPARE(view.Cursor(), (TTextPos{3, 2}));
        QCOMPARE(text->selectionCount(), 0);
        text->setSelection(0, LineStart(3) + 8, LineStart(4) + 6);
        QCOMPARE(view.SelectedText(), QStringLiteral("parola\nultima"));
        QCOMPARE(text->cursorPosition(), LineStart(4) + 6);
        text->removeSelection(0);
        QCOMPARE(text->selectionCount(), 0);
        QCOMPARE(text->cursorPosition(), LineStart(4) + 6);

        // Where characters are: a point inside one gives it back.
        for (const int offset : {0, LineStart(1) + 14, LineStart(2), LineStart(2) + 3}) {
            const QRect cell = text->characterRect(offset);
            QVERIFY(cell.isValid());
            QCOMPARE(text->offsetAtPoint(cell.center()), offset);
        }
        QCOMPARE(text->characterRect(LineStart(2)).width(), 8 * text->characterRect(0).width());
        QCOMPARE(text->offsetAtPoint(QPoint(-1000, -1000)), -1);
    }

    void readerIsToldOfCaretSelectionAndText() {
        TMessageTextView view;
        view.SetText(kText);
        view.show();
        QVERIFY(QTest::qWaitForWindowExposed(&view));
        gSeen.clear();
        gWatched = &view;
        SetAccessibilityObserverForTesting(&RecordEvent);

        QTest::keyClick(&view, Qt::Key_Right);
        QTest::keyClick(&view, Qt::Key_Right, Qt::ShiftModifier);
        QTest::keyClick(&view, Qt::Key_Right, Qt::ShiftModifier);
        QTest::keyClick(&view, Qt::Key_Left);  // drops the selection
        view.SetText("nuovo");

        SetAccessibilityObserverForTesting(nullptr);
        gWatched = nullptr;
        std::vector<TSeen> seen;
        for (const TSeen& s : gSeen)
            if (s.Type == QAccessible::TextCaretMoved ||
                s.Type == QAccessible::TextSelectionChanged || s.Type == QAccessible::TextUpdated)
                seen.push_back(s);
        QCOMPARE(seen.size(), size_t{9});
        QCOMPARE(seen[0].Type, QAccessible::TextCaretMoved);
        QCOMPARE(seen[0].Cursor, 1);
        QCOMPARE(seen[1].Cursor, 2);
        QCOMPARE(seen[2].Type, QAccessible::TextSelectionChanged);
        QCOMPARE(seen[2].Start, 1);
        QCOMPARE(seen[2].End, 2);
        QCOMPARE(seen[4].Type, QAccessible::TextSelectionChanged);
        QCOMPARE(seen[4].End, 3);
        QCOMPARE(seen[5].Cursor, 1);  // at the selection's start
        QCOMPARE(seen[6].Type, QAccessible::TextSelectionChanged);
        QCOMPARE(seen[6].Start, -1);
        QCOMPARE(seen[7].Type, QAccessible::TextUpdated);
        QCOMPARE(seen[7].Removed, Expected());
        QCOMPARE(seen[7].Inserted, QStringLiteral("nuovo"));
        QCOMPARE(seen[8].Cursor, 0);
    }

    void caretIsDrawnWhileFocused() {
        TFormMessage f(nullptr, "Messaggio originale", kText);
        f.show();
        QVERIFY(QTest::qWaitForWindowExposed(&f));
        TMessageTextView& view = *f.Memo1();
        f.activateWindow();
        view.setFocus();
        QTRY_VERIFY(view.hasFocus());
        // After the last line's text, where no glyph is drawn.
        view.Select({4, 11}, {4, 11});
        QAccessibleTextInterface* text = TextOf(&view);
        const QRect cell(
            view.viewport()->mapFromGlobal(text->characterRect(text->cursorPosition()).topLeft()),
            text->characterRect(text->cursorPosition()).size());
        // The caret's second column: the first may touch the last glyph.
        const QPoint caret(cell.left() + 1, cell.center().y());
        const QPoint beside(cell.left() + cell.width() / 2 + 2, cell.center().y());
        const QColor ink = view.palette().color(QPalette::Text);
        const QColor paper = view.palette().color(QPalette::Button);
        QImage shot = view.viewport()->grab().toImage();
        QCOMPARE(shot.pixelColor(caret), ink);
        QCOMPARE(shot.pixelColor(beside), paper);
        view.Select({1, 9}, {1, 15});
        Grab(f, "viewer-caret-selection");
        view.clearFocus();
        QTRY_VERIFY(!view.hasFocus());
        view.Select({4, 11}, {4, 11});
        shot = view.viewport()->grab().toImage();
        QCOMPARE(shot.pixelColor(caret), paper);
    }

    void everyControlHasAName() {
        THome home;
        TFormMainWindow w(home.Dir());
        w.show();
        QVERIFY(QTest::qWaitForWindowExposed(&w));
        QCOMPARE(Unnamed(&w), QString());
        QCOMPARE(NameOf(w.BitBtnRecycle()), QStringLiteral("Apri cestino"));
        QVERIFY(DescriptionOf(w.BitBtnCheck()).contains(QStringLiteral("Controlla subito")));
        QCOMPARE(NameOf(w.ListViewMsg()), QStringLiteral("Messaggi sul server"));
        QCOMPARE(NameOf(w.findChild<QListWidget*>(QStringLiteral("ListViewMailBoxes"))),
                 QStringLiteral("Caselle di posta"));
        // The check box column: its header is a blank on screen.
        QCOMPARE(w.ListViewMsg()
                     ->model()
                     ->headerData(0, Qt::Horizontal, Qt::AccessibleTextRole)
                     .toString(),
                 QStringLiteral("Da eliminare"));

        TFormSetup setup(w.Form(), &w);
        setup.show();
        QVERIFY(QTest::qWaitForWindowExposed(&setup));
        QCOMPARE(Unnamed(&setup), QString());
        QCOMPARE(NameOf(setup.ColorButtons()[2]),
                 QStringLiteral("Colore dei messaggi bloccati che non sono selezionati"));
        setup.ColorButtons()[2]->SetValue(0x0000FF);
        QCOMPARE(DescriptionOf(setup.ColorButtons()[2]), QStringLiteral("Colore attuale: Rosso"));
        setup.ColorButtons()[2]->SetValue(0x123456);
        QCOMPARE(DescriptionOf(setup.ColorButtons()[2]),
                 QStringLiteral("Colore attuale: rosso 86, verde 52, blu 18"));
        QVERIFY(NameOf(setup.SpinEditAutoCheck()).contains(QStringLiteral("Minuti")));
        QVERIFY(NameOf(setup.SpinEditTimeout()).contains(QStringLiteral("secondi")));
        setup.reject();

        TFormEditAccount editor(nullptr);
        editor.show();
        QVERIFY(QTest::qWaitForWindowExposed(&editor));
        QCOMPARE(Unnamed(&editor), QString());
        QCOMPARE(NameOf(editor.EditPorta()), QStringLiteral("Porta"));
        QCOMPARE(NameOf(editor.EditPwd()), QStringLiteral("Password"));
        // Every row an IMAP account signing in with its own provider shows;
        // a list is read by its choice and found by the label beside it.
        TMailAccount oauth;
        oauth.Protocol = TProtocol::Imap;
        oauth.Access = TAccessMethod::OAuth;
        oauth.OAuth.Provider = kProviderCustom;
        TFormEditAccount full(nullptr);
        full.SetAccount(oauth);
        full.show();
        QVERIFY(QTest::qWaitForWindowExposed(&full));
        QCOMPARE(Unnamed(&full), QString());
        for (QComboBox* list : {full.ComboBoxProtocollo(), full.ComboBoxAccesso(),
                                full.ComboBoxProvider(), full.ComboBoxSicurezza()}) {
            const auto labels =
                QAccessible::queryAccessibleInterface(list)->relations(QAccessible::Label);
            QVERIFY2(!labels.isEmpty(), qPrintable(list->objectName()));
            QCOMPARE(labels.front().first->text(QAccessible::Name), list->accessibleName());
        }

        TqvFormMsgBox box(nullptr, "Procedere ?", "Conferma", mbYesNoCancel, miQuestion, 0);
        box.show();
        QVERIFY(QTest::qWaitForWindowExposed(&box));
        QCOMPARE(Unnamed(&box), QString());
        QCOMPARE(NameOf(box.Buttons()[1]), QStringLiteral("No"));
        QCOMPARE(NameOf(box.IconLabel()), QStringLiteral("Domanda"));
    }
};

QTEST_MAIN(AccessibilityTest)
#include "accessibility_test.moc"
