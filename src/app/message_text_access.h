// What a screen reader gets of the message viewer's text view: the text as
// given, its length, the caret and the selection (both may be set from the
// reader too), the text by character, word, sentence, line and paragraph,
// and where each character is drawn. The view paints its own text, so
// without this a reader would meet a text box that holds nothing.
#pragma once

namespace kalmuro {

// Registers the view's accessible interface with Qt; once is enough, and
// every further call does nothing.
void InstallMessageTextAccessibility();

}  // namespace kalmuro
