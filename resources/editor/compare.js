// The comparison page: the server's text (left, read-only) beside the result (right, editable),
// with ace-diff marking the lines and the words within them that differ; each difference can be
// copied from the server's side into the result with its arrow, or left as the result has it.
// The result starts as the three-way merge; where the two changes overlapped it holds both, as a
// conflict between git's markers ("<<<<<<< editor", "=======", ">>>>>>> server"), shown in red,
// which must be decided (one side kept, or the lines edited, and the markers removed) before the
// app saves the result.
//
// The app calls, through its script bridge:
//   compare.load(b64server, b64result, mode): shows the texts (Base64 of UTF-8), in an Ace mode
//     ("css", "html", ...); returns true;
//   compare.result(): the result's text (its line breaks those of its first line);
//   compare.conflicts(): how many conflicts the result still holds;
//   compare.differences(): how many differences ace-diff shows;
//   compare.take(index): copies difference `index` from the server's side into the result.
// The two editors are the Ace editors of the elements "compare-server" and "compare-result"
// (compare.html makes them with ace-diff's classes, so ace-diff takes them as they are).
(function () {
  "use strict";

  ace.config.set("basePath", "lib");
  ace.config.set("modePath", "lib");
  ace.config.set("themePath", "lib");
  ace.config.set("loadWorkerFromBlob", false);
  ace.config.setDefaultValue("session", "useWorker", false);

  var utf8Decoder = new TextDecoder("utf-8", { fatal: true, ignoreBOM: true });
  function fromBase64(b64) {
    var binary = atob(b64);
    var bytes = new Uint8Array(binary.length);
    for (var i = 0; i < binary.length; i++) bytes[i] = binary.charCodeAt(i);
    return utf8Decoder.decode(bytes);
  }

  var differ = null;
  var markers = [];
  var START = /^<{7}( |$)/, MIDDLE = /^={7}$/, END = /^>{7}( |$)/;

  // The conflicts in the result: [first row, last row] of each marked block.
  function conflictRanges(session) {
    var ranges = [], start = -1, middle = false;
    var lines = session.getDocument().getAllLines();
    for (var row = 0; row < lines.length; row++) {
      var line = lines[row];
      if (START.test(line)) { start = row; middle = false; }
      else if (start >= 0 && MIDDLE.test(line)) middle = true;
      else if (start >= 0 && middle && END.test(line)) { ranges.push([start, row]); start = -1; }
    }
    return ranges;
  }

  function markConflicts() {
    if (!differ) return;
    var session = differ.getEditors().right.getSession();
    var Range = ace.require("ace/range").Range;
    markers.forEach(function (id) { session.removeMarker(id); });
    markers = conflictRanges(session).map(function (r) {
      return session.addMarker(new Range(r[0], 0, r[1], Infinity), "compare-conflict", "fullLine", true);
    });
  }

  window.compare = {
    load: function (b64server, b64result, mode) {
      if (differ) differ.destroy();
      differ = new AceDiff({
        ace: window.ace,
        element: "#compare",
        mode: "ace/mode/" + (mode || "text"),
        left: { content: fromBase64(b64server), editable: false, copyLinkEnabled: true },
        right: { content: fromBase64(b64result), editable: true, copyLinkEnabled: false }
      });
      var right = differ.getEditors().right;
      right.getSession().on("change", markConflicts);
      markConflicts();
      return true;
    },
    result: function () { return differ ? differ.getEditors().right.getValue() : null; },
    conflicts: function () { return differ ? conflictRanges(differ.getEditors().right.getSession()).length : 0; },
    differences: function () {
      if (!differ) return 0;
      differ.diff();
      return differ.getNumDiffs();
    },
    take: function (index) {
      if (!differ) return false;
      differ.diff();
      var links = document.querySelectorAll(".acediff__newCodeConnector");
      var found = null;
      links.forEach(function (link) { if (Number(link.getAttribute("data-diff-index")) === index) found = link; });
      if (!found) return false;
      found.click();
      return true;
    }
  };
})();
