// The comparison page: the server's text (left, read-only) beside the result (right, editable),
// with ace-diff marking the lines and the words within them that differ; each difference can be
// copied from the server's side into the result with its arrow, or left as the result has it.
// The result starts as the three-way merge; where the two changes overlapped it holds both, as a
// conflict between git's markers ("<<<<<<< editor", "=======", ">>>>>>> server"), shown in red,
// which must be decided before the app saves the result: its buttons "Keep Mine", "Keep Server's"
// and "Keep Both" put the editor's lines, the server's, or both (the editor's first) in place of
// the whole block, or the lines are edited and the markers removed by hand. The server's changes
// the merge took in without a conflict are where the result differs from the editor's own text
// outside the conflicts (diff-match-patch, line by line; so edits made in the result show the
// same way); they are marked in blue, and their "Keep Mine" puts the editor's lines back. Each
// button's change is one edit, which Undo takes back. Conflicts and changes are found again from
// the text after every edit.
//
// The app calls, through its script bridge:
//   compare.load(b64server, b64result, b64mine, mode): shows the texts (Base64 of UTF-8): the
//     server's, the result's, and the editor's own (which the result's changes are found against),
//     in an Ace mode ("css", "html", ...); returns true;
//   compare.result(): the result's text (its line breaks those of its first line);
//   compare.conflicts(): how many conflicts the result still holds;
//   compare.keep(index, side): decides conflict `index` (from the top) with side "mine",
//     "server" or "both", as its button does; false when there is no such conflict or side;
//   compare.serverChanges(): how many of the server's changes outside the conflicts the result holds;
//   compare.keepMine(index): puts the editor's lines back in place of server's change `index`
//     (from the top), as its "Keep Mine" does; false when there is no such change;
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

  var Range = ace.require("ace/range").Range;
  var dmp = window.diffMatchPatch;
  var differ = null;
  var mine = [];        // the editor's lines
  var markers = [];     // the result's marker ids
  var buttons = null;   // the layer over the result that holds the buttons
  var refreshing = false;
  var START = /^<{7}( |$)/, MIDDLE = /^={7}$/, END = /^>{7}( |$)/;
  var SIDES = { mine: true, server: true, both: true };

  function resultEditor() { return differ.getEditors().right; }
  function resultLines() { return resultEditor().getSession().getDocument().getAllLines(); }

  // The conflicts in the result: the rows of each block's three markers.
  function conflictBlocks(lines) {
    var blocks = [], start = -1, middle = -1;
    for (var row = 0; row < lines.length; row++) {
      var line = lines[row];
      if (START.test(line)) { start = row; middle = -1; }
      else if (start >= 0 && middle < 0 && MIDDLE.test(line)) middle = row;
      else if (start >= 0 && middle >= 0 && END.test(line)) {
        blocks.push({ start: start, middle: middle, end: row });
        start = -1;
      }
    }
    return blocks;
  }

  // Line codes for the diff: each distinct line one character, past the surrogate range (which
  // the library treats as halves of a pair).
  var MAX_LINES = 0xF000;
  function lineCode(n) { return String.fromCharCode(n < 0xD7FF ? n + 1 : n + 0x801); }

  // The server's changes outside the conflicts: where the result, each conflict read as the
  // editor's side of it, differs from the editor's text. Each is the result's rows [from, to)
  // (empty where the server removed lines) and the editor's lines there.
  function serverChanges(lines, blocks) {
    var rows = [], block = [], row = 0;
    function through(end, b) { for (; row < end; row++) { rows.push(row); block.push(b); } }
    blocks.forEach(function (b, i) {
      through(b.start, -1);
      row = b.start + 1;
      through(b.middle, i);
      row = b.end + 1;
    });
    through(lines.length, -1);

    var codes = new Map();
    function encode(list) {
      var out = "";
      for (var i = 0; i < list.length; i++) {
        var code = codes.get(list[i]);
        if (code === undefined) { code = lineCode(codes.size); codes.set(list[i], code); }
        out += code;
      }
      return out;
    }
    var ours = encode(mine), theirs = encode(rows.map(function (r) { return lines[r]; }));
    if (codes.size > MAX_LINES) return [];
    var diffs = dmp.makeDiff(ours, theirs, { checkLines: false });

    var changes = [], a = 0, b = 0, i = 0;
    while (i < diffs.length) {
      if (diffs[i][0] === dmp.DIFF_EQUAL) {
        a += diffs[i][1].length;
        b += diffs[i][1].length;
        i++;
        continue;
      }
      var removed = 0, added = 0;
      for (; i < diffs.length && diffs[i][0] !== dmp.DIFF_EQUAL; i++) {
        if (diffs[i][0] === dmp.DIFF_DELETE) removed += diffs[i][1].length;
        else added += diffs[i][1].length;
      }
      var at = locate(rows, block, blocks, lines.length, b, added);
      if (at !== null) changes.push({ from: at, to: at + added, mine: mine.slice(a, a + removed) });
      a += removed;
      b += added;
    }
    return changes;
  }

  // The result's first row of `count` compared lines from `index` on, or null where they touch a
  // conflict (a conflict's lines differing from the editor's are the conflict's business).
  function locate(rows, block, blocks, rowCount, index, count) {
    if (count > 0) {
      for (var k = index; k < index + count; k++) if (block[k] >= 0) return null;
      return rows[index + count - 1] - rows[index] === count - 1 ? rows[index] : null;
    }
    if (index === rows.length) return rowCount;
    if (block[index] < 0) return rows[index];
    if (index > 0 && block[index - 1] === block[index]) return null;
    return blocks[block[index]].start;
  }

  // Puts `lines` in place of the result's rows [from, to), as one edit for Undo.
  function replaceRows(from, to, lines) {
    var session = resultEditor().getSession(), doc = session.getDocument();
    var nl = doc.getNewLineCharacter(), count = doc.getLength(), last = count - 1;
    var range, text;
    if (to < count) {
      range = new Range(from, 0, to, 0);
      text = lines.map(function (l) { return l + nl; }).join("");
    } else if (from > 0) {
      // Through the last row: the line break before `from` goes instead of the last one's.
      range = new Range(from - 1, doc.getLine(from - 1).length, last, doc.getLine(last).length);
      text = lines.map(function (l) { return nl + l; }).join("");
    } else {
      range = new Range(0, 0, last, doc.getLine(last).length);
      text = lines.join(nl);
    }
    session.markUndoGroup();
    session.replace(range, text);
    session.markUndoGroup();
  }

  function keepConflict(index, side) {
    if (!differ || !SIDES[side]) return false;
    var lines = resultLines(), b = conflictBlocks(lines)[index];
    if (!b) return false;
    var ours = lines.slice(b.start + 1, b.middle), theirs = lines.slice(b.middle + 1, b.end);
    replaceRows(b.start, b.end + 1, side === "mine" ? ours : side === "server" ? theirs : ours.concat(theirs));
    return true;
  }

  function keepMine(index) {
    if (!differ) return false;
    var lines = resultLines(), change = serverChanges(lines, conflictBlocks(lines))[index];
    if (!change) return false;
    replaceRows(change.from, change.to, change.mine);
    return true;
  }

  // The buttons: a row of them at the right of a result row, over the text.
  function button(label, action) {
    var el = document.createElement("button");
    el.type = "button";
    el.textContent = label;
    el.addEventListener("click", function () { action(); resultEditor().focus(); });
    return el;
  }
  function buttonRow(row, list) {
    var el = document.createElement("div");
    el.className = "compare-actions";
    el.dataset.row = String(row);
    list.forEach(function (b) { el.appendChild(b); });
    return el;
  }
  function placeButtons() {
    if (!differ || !buttons) return;
    var editor = resultEditor(), session = editor.getSession(), height = editor.renderer.lineHeight;
    var scrollTop = session.getScrollTop();
    buttons.childNodes.forEach(function (el) {
      el.style.top = session.documentToScreenRow(Number(el.dataset.row), 0) * height - scrollTop + "px";
      el.style.height = height + "px";
    });
  }

  // Marks the conflicts and the server's changes in the result, with their buttons.
  function refresh() {
    refreshing = false;
    if (!differ) return;
    var session = resultEditor().getSession(), lines = resultLines();
    var blocks = conflictBlocks(lines), changes = serverChanges(lines, blocks);
    markers.forEach(function (id) { session.removeMarker(id); });
    markers = [];
    buttons.textContent = "";
    blocks.forEach(function (b, i) {
      markers.push(session.addMarker(new Range(b.start, 0, b.end, Infinity), "compare-conflict", "fullLine", true));
      buttons.appendChild(buttonRow(b.start, [
        button("Keep Mine", function () { keepConflict(i, "mine"); }),
        button("Keep Server's", function () { keepConflict(i, "server"); }),
        button("Keep Both", function () { keepConflict(i, "both"); })
      ]));
    });
    var last = Math.max(0, lines.length - 1);
    changes.forEach(function (c, i) {
      var range, kind;
      if (c.to > c.from) { range = new Range(c.from, 0, c.to - 1, Infinity); kind = "compare-server-change"; }
      else if (c.from <= last) { range = new Range(c.from, 0, c.from, Infinity); kind = "compare-server-removed"; }
      else { range = new Range(last, 0, last, Infinity); kind = "compare-server-removed-after"; }
      markers.push(session.addMarker(range, kind, "fullLine", true));
      buttons.appendChild(buttonRow(range.start.row, [button("Keep Mine", function () { keepMine(i); })]));
    });
    placeButtons();
  }
  // Once for all the changes of one edit (a replacement is a removal and an insertion).
  function scheduleRefresh() {
    if (refreshing) return;
    refreshing = true;
    Promise.resolve().then(refresh);
  }

  window.compare = {
    load: function (b64server, b64result, b64mine, mode) {
      if (differ) differ.destroy();
      differ = new AceDiff({
        ace: window.ace,
        element: "#compare",
        mode: "ace/mode/" + (mode || "text"),
        left: { content: fromBase64(b64server), editable: false, copyLinkEnabled: true },
        right: { content: fromBase64(b64result), editable: true, copyLinkEnabled: false }
      });
      mine = fromBase64(b64mine).split(/\r\n|\r|\n/);
      var right = resultEditor();
      buttons = document.createElement("div");
      buttons.className = "compare-buttons";
      // Kept from the editor's own mouse handling: a click on a button is not a click in the text.
      buttons.addEventListener("mousedown", function (e) { e.stopPropagation(); });
      right.renderer.scroller.appendChild(buttons);
      right.renderer.on("afterRender", placeButtons);
      right.getSession().on("change", scheduleRefresh);
      refresh();
      return true;
    },
    result: function () { return differ ? resultEditor().getValue() : null; },
    conflicts: function () { return differ ? conflictBlocks(resultLines()).length : 0; },
    keep: keepConflict,
    serverChanges: function () {
      if (!differ) return 0;
      var lines = resultLines();
      return serverChanges(lines, conflictBlocks(lines)).length;
    },
    keepMine: keepMine,
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
