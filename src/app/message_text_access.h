// What a screen reader gets of the message viewer's text view: the text as
// given, its length, the caret and the selection (both may be set from the
// reader too), the text by character, word, sentence, line and paragraph,
// and where each character is drawn. The view paints its own text, so
// without this a reader would meet a text box that holds nothing.
#pragma once

class QAccessibleEvent;

namespace kalmuro {

// Registers the view's accessible interface with Qt; once is enough, and
// every further call does nothing.
void InstallMessageTextAccessibility();

// Whether an event is worth making: a screen reader listens (or a test).
bool AccessibilityListening();
// Tells screen readers of a change of the view's text, caret or selection.
void TellAccessibility(QAccessibleEvent& event);
// Tests: every event told goes to the observer too, whether a screen reader
// listens or not (the offscreen platform has no accessibility at all, so
// Qt itself would drop them). Null ends it.
void SetAccessibilityObserverForTesting(void (*observer)(QAccessibleEvent*));

}  // namespace kalmuro
