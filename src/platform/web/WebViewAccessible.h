#pragma once
// What assistive technologies read of a web view: the view, and under it the page's document.
//
// The web engine reports the document as the page alone sees it: without a name when the page
// has no title, focused whenever nothing inside the page is (so every web view of a window claims
// the focus at once, whichever holds it), and showing while the view is hidden. The view's
// interface here puts a stand-in for the document in the tree that keeps the engine's children,
// text and actions but answers those three for the window:
//  - its name is the page's title, or the view's own name when the page has none;
//  - it is focused only while the view holds the application's focus;
//  - it is invisible while the view is.
// A change of the view's focus is announced as a change of the document's focused state.
//
// Main thread only.
class QWidget;

namespace web {

// Makes `view`'s interface the one above; each web view calls it once it is made (the engine's
// own interface for web views is installed when the first one is made, and gives way to this).
void installDocumentAccessibility(QWidget* view);

}  // namespace web
