/*
 * The editor page. The app drives it through three globals:
 *   editor           the Ace editor
 *   main             page-level commands (insert, preview, search, beautify, soft wrap)
 *   session_manager  one editing session per opened file
 * and hears from it through window.webkit.messageHandlers ("scriptlog", "log", "msg", "err").
 *
 * Every entry point the app calls is synchronous and never throws: a failure is reported on "err"
 * and the call returns null (or false).
 *
 * A session's serialized state (the "json" the app stores) is a JSON object:
 *   { state_id, session_id, file_path, value, undo_count, ace_language, mode, cursor: {row, column},
 *     scroll_top, scroll_left }
 * "state_id" (first, so the app finds it at the head of the text) names that one serialization:
 * the app hands a state this page reported back as "dravix-state:<state_id>" instead of its bytes.
 * "value" is the complete document text. "undo_count" counts every change made to the document
 * (typing, pasting, beautifying, undoing and redoing alike), so it only ever rises; it travels with
 * the state, so a session rebuilt in another page goes on counting from where it was.
 *
 * Whether a session's text is the saved one is Ace's own record: its undo manager's clean mark.
 * A new session's text is the file's as read, so it starts clean; the app names the change count
 * whose text a write saved (mark_saved), and undoing or redoing back to that text is clean again.
 * Replies and change reports carry it as "clean".
 */
(function () {
  "use strict";

  // ---- messages to the app --------------------------------------------------------------------

  function handler(name) {
    try {
      var hs = window.webkit && window.webkit.messageHandlers;
      return hs ? hs[name] : null;
    } catch (e) {
      return null;
    }
  }

  function post(name, body) {
    var h = handler(name);
    if (!h || typeof h.postMessage !== "function") return false;
    try {
      h.postMessage(body);
      return true;
    } catch (e) {
      return false;
    }
  }

  function log(text) { post("log", String(text)); }

  function report(where, e) {
    var text = where + ": " + (e && e.message ? e.message : String(e));
    post("err", text);
  }

  window.onerror = function (message, source, line, column) {
    var where = source ? " (" + String(source).split("/").pop() + ":" + line + ":" + column + ")" : "";
    post("err", String(message) + where);
    return false;
  };
  window.addEventListener("unhandledrejection", function (event) {
    var r = event && event.reason;
    post("err", "unhandled rejection: " + (r && r.message ? r.message : String(r)));
  });

  // ---- Base64 of UTF-8 --------------------------------------------------------------------------

  var utf8Decoder = new TextDecoder("utf-8", { fatal: true, ignoreBOM: true });
  var utf8Encoder = new TextEncoder();

  var NON_ASCII = /[^\x00-\x7f]/;

  // The text of Base64 `b64` read as UTF-8; throws on bad Base64 or bad UTF-8. White space in
  // the Base64 is skipped.
  function fromBase64(b64) {
    if (typeof b64 !== "string") throw new TypeError("expected a Base64 string");
    var binary = atob(b64);
    // ASCII bytes are their own UTF-8 text: most web sources need no decoding at all.
    if (!NON_ASCII.test(binary)) return binary;
    var bytes = new Uint8Array(binary.length);
    for (var i = 0; i < binary.length; i++) bytes[i] = binary.charCodeAt(i);
    return utf8Decoder.decode(bytes);
  }

  // A text the app offers as its bytes: a one-shot "dravix-doc:" URL that this page alone may read
  // (once). Large texts come this way instead of as Base64 inside the script.
  var DOCUMENT_URL = /^dravix-doc:\/\/[0-9a-f]{16,}\/$/;

  function isDocumentUrl(value) { return typeof value === "string" && DOCUMENT_URL.test(value); }

  // A state this page reported itself, named by its state_id: the app hands it back this way
  // when it holds that state unchanged, so the state's text need not travel to the page again.
  var STATE_REFERENCE = /^dravix-state:([0-9a-f]{16,})$/;

  function newStateId() {
    var words = new Uint32Array(4);
    crypto.getRandomValues(words);
    var id = "";
    for (var i = 0; i < words.length; i++) id += ("00000000" + words[i].toString(16)).slice(-8);
    return id;
  }

  function fetchDocument(url) {
    var request = new XMLHttpRequest();
    request.open("GET", url, false);
    request.send();
    if (request.status !== 200 && request.status !== 0) throw new Error("the document could not be read");
    return request.responseText;
  }

  // The text an argument stands for: the bytes behind a document URL, or Base64 of UTF-8.
  function textOf(value) {
    return isDocumentUrl(value) ? fetchDocument(value) : fromBase64(value);
  }

  function toBase64(text) {
    text = String(text);
    if (!NON_ASCII.test(text)) return btoa(text);
    var bytes = utf8Encoder.encode(text);
    var parts = [];
    var chunk = 0x8000;
    for (var i = 0; i < bytes.length; i += chunk) {
      parts.push(String.fromCharCode.apply(null, bytes.subarray(i, i + chunk)));
    }
    return btoa(parts.join(""));
  }

  // ---- modes -------------------------------------------------------------------------------------

  var MODES = {
    html: "html", htm: "html", php: "php", css: "css", scss: "scss", sass: "sass", less: "less",
    js: "javascript", txt: "text"
  };

  function extensionOf(path) {
    var name = String(path || "").split(/[\/\\]/).pop();
    var dot = name.lastIndexOf(".");
    return dot > 0 ? name.substring(dot + 1).toLowerCase() : "";
  }

  function languageFor(path) {
    return MODES[extensionOf(path)] || "text";
  }

  // ---- the editor ----------------------------------------------------------------------------------

  ace.config.set("basePath", "lib");
  ace.config.set("modePath", "lib");
  ace.config.set("themePath", "lib");
  ace.config.set("loadWorkerFromBlob", false);
  // Ace's syntax-check workers cannot start from a file:// page.
  ace.config.setDefaultValue("session", "useWorker", false);
  ace.require("ace/ext/language_tools");

  var theEditor = ace.edit("editor");
  theEditor.setOptions({
    useWorker: false,
    showPrintMargin: true,
    enableBasicAutocompletion: false,
    enableLiveAutocompletion: false,
    enableSnippets: false,
    fontSize: "14px"
  });
  window.editor = theEditor;

  var EditSession = ace.require("ace/edit_session").EditSession;
  var UndoManager = ace.require("ace/undomanager").UndoManager;

  // Soft wrap of a long document, quickly: a row that fits the wrap width as it is, with no tab
  // and no wide character (so one screen column per character), gets no split, which is what
  // Ace's own pass (a token per character of every row) would find; the other rows, and rows
  // inside folds, go through Ace's pass.
  var aceUpdateWrapData = EditSession.prototype.$updateWrapData;
  var NEEDS_COLUMN_PASS = /[\t\u1100-\uffff]/;
  EditSession.prototype.$updateWrapData = function (firstRow, lastRow) {
    var lines = this.doc.getAllLines();
    var limit = this.$wrapLimit;
    var wrapData = this.$wrapData;
    var tabSize = this.getTabSize();
    var folded = this.$foldData.length > 0;
    lastRow = Math.min(lastRow, lines.length - 1);
    var row = firstRow;
    while (row <= lastRow) {
      var fold = folded ? this.getFoldLine(row) : null;
      if (fold) {
        aceUpdateWrapData.call(this, row, row);
        row = fold.end.row + 1;
        continue;
      }
      var line = lines[row];
      if (line.length <= limit && !NEEDS_COLUMN_PASS.test(line)) {
        wrapData[row] = [];
      } else {
        wrapData[row] = this.$computeWrapSplits(this.$getDisplayTokens(line), limit, tabSize);
      }
      row += 1;
    }
  };
  // Ace's own pass, kept beside it (the page's tests compare the two).
  EditSession.prototype.$updateWrapData.acePass = aceUpdateWrapData;

  // ---- sessions --------------------------------------------------------------------------------------

  var sessions = {};      // session id -> entry
  var currentId = null;
  var wrapSetting = "off"; // Ace's "wrap" option value, applied to each session as it is shown
  var emptySession = theEditor.getSession();

  // The line breaks of a text with more than one kind (CR LF, CR, LF), each line's own; null for
  // a text with one kind or none, which Ace's own line break gives back.
  var LINE_BREAK = /\r\n|\r|\n/g;
  function mixedLineBreaks(value) {
    var breaks = value.match(LINE_BREAK);
    if (!breaks) return null;
    for (var i = 1; i < breaks.length; i++) {
      if (breaks[i] !== breaks[0]) return breaks;
    }
    return null;
  }

  function Entry(id, filePath, value, count, language) {
    this.id = id;
    this.file_path = filePath;
    this.language = language;
    this.undo_count = count;
    // Ace keeps one kind of line break per document; until the first change the text is handed
    // back exactly as it came (mixed line breaks included), so an unchanged file saves unchanged.
    this.pristine = value;
    this.session = new EditSession(value);
    // A text Ace gives back as it came needs no copy of its own beside Ace's lines.
    if (this.session.getValue() === value) this.pristine = null;
    // A text of mixed line breaks keeps each line's own through edits (see lineBreaksFollow): a
    // line break typed takes the document's first kind, as Ace's do.
    this.lineBreaks = mixedLineBreaks(value);
    this.session.setUndoManager(new UndoManager());
    this.session.setOption("useWorker", false);
    this.session.setMode("ace/mode/" + language);
    this.wrap = "off";  // the wrap applied so far (see applyWrap)
    this.reported = {};  // state_id -> undo_count of the states this entry reported (the latest few)
    this.reportedOrder = [];
    this.revisions = {};  // undo_count -> Ace's undo revision of the text reported at that count
    this.revisionOrder = [];
    this.lastReport = null;  // { mark, json } of the latest report, while kept
    this.changeReport = null;  // the timer of this entry's change report, while one is due
    var self = this;
    this.session.on("change", function (delta) {
      if (self.lineBreaks) self.lineBreaksFollow(delta);
      self.pristine = null;
      self.undo_count += 1;
      if (currentId === self.id) schedulePreview();
      reportChangeSoon(self);
    });
  }

  Entry.prototype.undoManager = function () { return this.session.getUndoManager(); };

  // An edit's line breaks: the k breaks an insert at row r makes come after rows r..r+k-1 (the
  // break row r had now follows row r+k); a removal from row r to row r+k takes the breaks after
  // rows r..r+k-1 (the break row r+k had now follows row r).
  Entry.prototype.lineBreaksFollow = function (delta) {
    var k = delta.lines.length - 1;
    if (k <= 0) return;
    if (delta.action === "insert") {
      var kind = this.session.getDocument().getNewLineCharacter();
      var made = [];
      for (var i = 0; i < k; i++) made.push(kind);
      Array.prototype.splice.apply(this.lineBreaks, [delta.start.row, 0].concat(made));
    } else {
      this.lineBreaks.splice(delta.start.row, k);
    }
  };

  // The text is the one the editor marks saved.
  Entry.prototype.isClean = function () {
    try { return this.undoManager().isClean(); } catch (e) { return false; }
  };

  // No text of this session's undo history is known to be saved (a session rebuilt from a stored
  // state: its text may hold changes no write saved).
  Entry.prototype.forgetSaved = function () { this.undoManager().markClean(-1); };

  // The undo revision that stands for the text as it is now. Edits after this start a revision of
  // their own, never merge into this one, so the revision names this very text.
  Entry.prototype.closeRevision = function () {
    var rev = this.undoManager().startNewGroup();
    if (!Object.prototype.hasOwnProperty.call(this.revisions, this.undo_count)) this.revisionOrder.push(this.undo_count);
    this.revisions[this.undo_count] = rev;
    while (this.revisionOrder.length > 8) delete this.revisions[this.revisionOrder.shift()];
    return rev;
  };

  // The text this session had at change count `count` is the saved one. Returns whether the
  // session's text now is the saved one; a count this session no longer knows changes nothing.
  Entry.prototype.markSaved = function (count) {
    var rev;
    if (count === this.undo_count) rev = this.closeRevision();
    else if (Object.prototype.hasOwnProperty.call(this.revisions, count)) rev = this.revisions[count];
    else return this.isClean();
    this.undoManager().markClean(rev);
    return this.isClean();
  };

  Entry.prototype.cursor = function () {
    try { return this.session.selection.getCursor(); } catch (e) { return { row: 0, column: 0 }; }
  };

  Entry.prototype.state = function (stateId) {
    var cursor = this.cursor();
    return {
      state_id: stateId || "",
      session_id: this.id,
      file_path: this.file_path,
      value: this.text(),
      undo_count: this.undo_count,
      ace_language: this.language,
      mode: "ace/mode/" + this.language,
      cursor: { row: cursor.row, column: cursor.column },
      scroll_top: this.session.getScrollTop(),
      scroll_left: this.session.getScrollLeft()
    };
  };

  // The state as the JSON text the app stores, under a new state_id that this entry remembers
  // with its change count then. Asked again while nothing in it moved (the app reads a session
  // back right after it made it), the same text is the answer: it is not serialized again, and
  // the app, which holds it already, is spared its crossing (see the app's result encoder). The
  // text is kept a few seconds only.
  var REPORT_KEPT_MS = 3000;
  Entry.prototype.report = function () {
    // A reported text may become the saved one (a save writes it): its revision is kept.
    this.closeRevision();
    var cursor = this.cursor();
    var mark = [this.undo_count, cursor.row, cursor.column, this.session.getScrollTop(),
                this.session.getScrollLeft(), this.file_path, this.language].join("|");
    if (this.lastReport && this.lastReport.mark === mark) return this.lastReport.json;
    var id = newStateId();
    this.reported[id] = this.undo_count;
    this.reportedOrder.push(id);
    while (this.reportedOrder.length > 4) delete this.reported[this.reportedOrder.shift()];
    var json = JSON.stringify(this.state(id));
    var self = this;
    var kept = { mark: mark, json: json };
    this.lastReport = kept;
    setTimeout(function () { if (self.lastReport === kept) self.lastReport = null; }, REPORT_KEPT_MS);
    return json;
  };

  Entry.prototype.text = function () {
    if (this.pristine !== null) return this.pristine;
    if (!this.lineBreaks) return this.session.getValue();
    var lines = this.session.getDocument().getAllLines();
    var parts = new Array(lines.length * 2 - 1);
    for (var i = 0; i < lines.length; i++) {
      parts[2 * i] = lines[i];
      if (i + 1 < lines.length) parts[2 * i + 1] = this.lineBreaks[i] || "\n";
    }
    return parts.join("");
  };

  Entry.prototype.restoreView = function (state) {
    try {
      if (state && state.cursor && typeof state.cursor.row === "number") {
        this.session.selection.moveTo(state.cursor.row, state.cursor.column || 0);
      }
      if (state && typeof state.scroll_top === "number") this.session.setScrollTop(state.scroll_top);
      if (state && typeof state.scroll_left === "number") this.session.setScrollLeft(state.scroll_left);
    } catch (e) { /* a view position is a nicety */ }
  };

  function entryFromState(state) {
    var language = typeof state.ace_language === "string" && state.ace_language
      ? state.ace_language : languageFor(state.file_path);
    if (!/^[a-z_]+$/.test(language)) language = languageFor(state.file_path);
    var count = typeof state.undo_count === "number" && isFinite(state.undo_count) && state.undo_count > 0
      ? Math.floor(state.undo_count) : 0;
    var entry = new Entry(String(state.session_id), String(state.file_path || ""), state.value, count, language);
    entry.forgetSaved();
    entry.restoreView(state);
    return entry;
  }

  // Soft wrap goes on once the session is in the editor and has been given the editor's wrap
  // width: the wrap of a long document is then worked out once, at the width it shows in.
  function applyWrap(entry) {
    if (entry.wrap === wrapSetting) return;
    entry.wrap = wrapSetting;
    if (wrapSetting !== "off" && theEditor.getSession() === entry.session) {
      var column = typeof wrapSetting === "number" ? wrapSetting : wrapSetting === "printMargin" ? -1 : null;
      entry.session.setWrapLimitRange(column, column);
      theEditor.renderer.adjustWrapLimit();
    }
    entry.session.setOption("wrap", wrapSetting);
  }

  // Working out the wrap of a long document takes a good part of a second (about 0.15 s for 100,000
  // lines): such a document is shown at once and wrapped a moment later, so the call that shows it
  // returns at once. The app reads a session back right after it opens one; the wrap waits for
  // that read (or at most WRAP_LATER_MS), so neither call is held up by it.
  var WRAP_LATER_LINES = 20000;
  var WRAP_LATER_MS = 2000;
  var wrapLater = null;  // { entry, timer } of the wrap still to come

  function wrapSoon(entry, ms) {
    cancelWrapLater();
    var pending = { entry: entry, timer: null };
    pending.timer = setTimeout(function () {
      if (wrapLater === pending) wrapLater = null;
      if (current() === entry) applyWrap(entry);
    }, ms);
    wrapLater = pending;
  }

  function cancelWrapLater() {
    if (wrapLater) clearTimeout(wrapLater.timer);
    wrapLater = null;
  }

  function show(entry) {
    currentId = entry.id;
    theEditor.setSession(entry.session);
    if (entry.wrap !== wrapSetting && wrapSetting !== "off" && entry.session.getLength() > WRAP_LATER_LINES) {
      wrapSoon(entry, WRAP_LATER_MS);
    } else {
      cancelWrapLater();
      applyWrap(entry);
    }
    // Laid out and drawn on the editor's next frame: the call that shows a session returns at once
    // (a long document's first drawing then runs while the app takes the call's reply).
    theEditor.resize();
  }

  // The app marks a window whose file has changes it has not saved: it hears of a session's
  // change count once the typing of the moment is done (changes a moment apart are told once).
  var CHANGE_REPORT_MS = 150;
  // The timer belongs to the entry that changed; what it tells is the state of the entry under
  // that id when it fires: a session replaced (opened again, rebuilt, restored) or renamed in the
  // meantime is told as it is now, never as the entry it replaced was, and a closed one not at all.
  function reportChangeSoon(entry) {
    if (entry.changeReport !== null) return;
    entry.changeReport = setTimeout(function () {
      entry.changeReport = null;
      var now = Object.prototype.hasOwnProperty.call(sessions, entry.id) ? sessions[entry.id] : null;
      if (!now) return;
      if (now !== entry && now.changeReport !== null) return;  // the entry there tells its own soon
      post("msg", { content_changed: { session_id: now.id, undo_count: now.undo_count, clean: now.isClean() } });
    }, CHANGE_REPORT_MS);
  }

  function sessionInfo(entry) {
    post("msg", { session_info: {
      session_id: entry.id, file_path: entry.file_path,
      undo_count: entry.undo_count, ace_language: entry.language } });
  }

  function current() {
    return currentId !== null && Object.prototype.hasOwnProperty.call(sessions, currentId)
      ? sessions[currentId] : null;
  }

  var manager = {
    // Opens a new session with the Base64 text; an existing session of the same id is replaced.
    // Returns the session's serialized state as JSON text.
    new_aces_editor_session: function (id, b64text, path) {
      try {
        var text = textOf(b64text === undefined || b64text === null ? "" : b64text);
        var sid = String(id);
        var filePath = path === undefined || path === null ? "" : String(path);
        var entry = new Entry(sid, filePath, text, 0, languageFor(filePath));
        sessions[sid] = entry;
        show(entry);
        sessionInfo(entry);
        return entry.report();
      } catch (e) {
        report("new_aces_editor_session", e);
        return null;
      }
    },

    // Makes the session stored in the Base64 JSON state current. When this page already holds that
    // session with at least as many changes, its own (newer or equal) state is kept. Returns true
    // when a session was selected.
    set_current_session: function (b64json) {
      try {
        if (typeof b64json !== "string" || b64json.length === 0) {
          log("set_current_session: no session state");
          return false;
        }
        var reference = STATE_REFERENCE.exec(b64json);
        if (reference) {
          // A state this page reported: its entry holds that state or a newer one (change counts
          // only rise), which is what a stored state of this session would select. A state no
          // entry here reported (the page was replaced, the entry rebuilt) is asked for in full.
          for (var key in sessions) {
            if (!Object.prototype.hasOwnProperty.call(sessions, key)) continue;
            var held = sessions[key];
            if (Object.prototype.hasOwnProperty.call(held.reported, reference[1]) &&
                held.undo_count >= held.reported[reference[1]]) {
              show(held);
              return true;
            }
          }
          return "unknown_state";
        }
        var state = JSON.parse(textOf(b64json));
        if (!state || typeof state !== "object" || Array.isArray(state) || typeof state.value !== "string") {
          report("set_current_session", "the session state is not a session");
          return false;
        }
        if (state.session_id === undefined || state.session_id === null) state.session_id = state.file_path || "";
        var sid = String(state.session_id);
        var mine = Object.prototype.hasOwnProperty.call(sessions, sid) ? sessions[sid] : null;
        var theirs = typeof state.undo_count === "number" ? state.undo_count : 0;
        if (mine && (mine.undo_count > theirs ||
                     (mine.undo_count === theirs && mine.text() === state.value))) {
          show(mine);
          return true;
        }
        var entry = entryFromState(state);
        if (mine && mine.undo_count > entry.undo_count) entry.undo_count = mine.undo_count;
        sessions[sid] = entry;
        show(entry);
        return true;
      } catch (e) {
        report("set_current_session", e);
        return false;
      }
    },

    // { session_id, json, undo_count, ace_language } of the current session, or null.
    get_current_session: function () {
      try {
        var entry = current();
        if (!entry) return null;
        var reply = {
          session_id: entry.id,
          json: entry.report(),
          undo_count: entry.undo_count,
          ace_language: entry.language,
          clean: entry.isClean()
        };
        // A wrap still to come runs once this reply is on its way.
        if (wrapLater) wrapSoon(wrapLater.entry, 0);
        return reply;
      } catch (e) {
        report("get_current_session", e);
        return null;
      }
    },

    // Rebuilds the current session from its own state: same text, count and position, a fresh
    // undo history and mode. Returns true when there was a session to rebuild.
    restart_session: function () {
      try {
        var entry = current();
        if (!entry) return false;
        var rebuilt = entryFromState(entry.state());
        // A fresh history: a saved text stays saved, anything else is not known to be.
        if (entry.isClean()) rebuilt.undoManager().markClean(0);
        sessions[rebuilt.id] = rebuilt;
        show(rebuilt);
        sessionInfo(rebuilt);
        return true;
      } catch (e) {
        report("restart_session", e);
        return false;
      }
    },

    // { selected_content: Base64 of the selected text } (empty text when nothing is selected).
    get_selected_content: function () {
      try {
        return { selected_content: toBase64(theEditor.getCopyText() || "") };
      } catch (e) {
        report("get_selected_content", e);
        return { selected_content: "" };
      }
    },

    // The file of a session was moved on its server: the session (text, changes, undo history,
    // position) goes on under the new id and path; a new extension brings its language. Returns
    // true when this page held the session.
    rename_session: function (id, newId, newPath) {
      try {
        var sid = String(id);
        if (!Object.prototype.hasOwnProperty.call(sessions, sid)) return false;
        var entry = sessions[sid];
        var nid = String(newId);
        var filePath = newPath === undefined || newPath === null ? "" : String(newPath);
        delete sessions[sid];
        entry.id = nid;
        if (languageFor(filePath) !== languageFor(entry.file_path)) {
          entry.language = languageFor(filePath);
          entry.session.setMode("ace/mode/" + entry.language);
        }
        entry.file_path = filePath;
        entry.lastReport = null;
        sessions[nid] = entry;
        if (currentId === sid) currentId = nid;
        return true;
      } catch (e) {
        report("rename_session", e);
        return false;
      }
    },

    // A write saved the text session `id` had at change count `count`: from now on the editor
    // marks that text saved, and undoing or redoing back to it is unchanged. Returns whether the
    // session's text is the saved one now (null when this page holds no such session).
    mark_saved: function (id, count) {
      try {
        var sid = String(id);
        if (!Object.prototype.hasOwnProperty.call(sessions, sid)) return null;
        var n = Number(count);
        if (!isFinite(n)) return null;
        return sessions[sid].markSaved(Math.floor(n));
      } catch (e) {
        report("mark_saved", e);
        return null;
      }
    },

    // Replaces `length` UTF-16 units at `row`, `column` of session `id` (within one line) with the
    // Base64 text, as an edit the user sees and can undo. Returns whether it did.
    replace_text: function (id, row, column, length, b64text) {
      try {
        var sid = String(id);
        if (!Object.prototype.hasOwnProperty.call(sessions, sid)) return false;
        var Range = ace.require("ace/range").Range;
        var session = sessions[sid].session;
        session.replace(new Range(row, column, row, column + length), fromBase64(b64text));
        return true;
      } catch (e) {
        report("replace_text", e);
        return false;
      }
    },

    // Replaces the whole text of session `id` with the Base64 text, as one edit the user sees and
    // can undo; each line keeps its own line break, and the cursor stays where it was (as far as
    // the new text reaches). Returns whether the session's text is now exactly that text.
    set_text: function (id, b64text) {
      try {
        var sid = String(id);
        if (!Object.prototype.hasOwnProperty.call(sessions, sid)) return false;
        var entry = sessions[sid];
        var value = fromBase64(b64text);
        if (entry.text() === value) return true;
        var Range = ace.require("ace/range").Range;
        var session = entry.session;
        var doc = session.getDocument();
        var cursor = entry.cursor();
        var last = doc.getLength() - 1;
        // Ace takes the line break of a document emptied by the replace from the text put in it.
        session.replace(new Range(0, 0, last, doc.getLine(last).length), value);
        entry.lineBreaks = mixedLineBreaks(value);
        session.selection.moveTo(cursor.row, cursor.column);
        return entry.text() === value;
      } catch (e) {
        report("set_text", e);
        return false;
      }
    },

    // Not part of the app's vocabulary; handy when looking at the page by hand.
    session_ids: function () { return Object.keys(sessions); },

    close_session: function (id) {
      try {
        var sid = String(id);
        if (!Object.prototype.hasOwnProperty.call(sessions, sid)) return false;
        delete sessions[sid];
        if (currentId === sid) {
          currentId = null;
          theEditor.setSession(emptySession);
        }
        return true;
      } catch (e) {
        report("close_session", e);
        return false;
      }
    }
  };
  window.session_manager = manager;

  // ---- page commands -------------------------------------------------------------------------------

  var previewTimer = null;
  var previewDelayMs = 400;
  var livePreview = true;

  function previewNow() {
    var entry = current();
    if (!entry) return false;
    return post("msg", { send_content_to_preview: {
      file_path: entry.file_path, content: toBase64(entry.text()) } });
  }

  function schedulePreview() {
    if (!livePreview) return;
    if (previewTimer !== null) clearTimeout(previewTimer);
    previewTimer = setTimeout(function () {
      previewTimer = null;
      try { previewNow(); } catch (e) { report("preview", e); }
    }, previewDelayMs);
  }

  // Ace's "wrap" option for a soft-wrap value: "off", "free", a negative number (the print
  // margin) or a positive width. Anything else gives null.
  function wrapOption(value) {
    var v = String(value).trim();
    if (v === "off") return "off";
    if (v === "free") return "free";
    if (v === "printMargin") return "printMargin";
    if (!/^[+-]?\d+$/.test(v)) return null;
    var n = parseInt(v, 10);
    if (n < 0) return "printMargin";
    if (n === 0) return "off";
    return n;
  }

  var searchbox = ace.require("ace/ext/searchbox");
  var beautify = ace.require("ace/ext/beautify");

  window.main = {
    insertContent: function (b64text) {
      try {
        var text = fromBase64(b64text);
        theEditor.insert(text);
        return true;
      } catch (e) {
        report("insertContent", e);
        return false;
      }
    },

    send_content_to_preview: function () {
      try {
        if (previewTimer !== null) { clearTimeout(previewTimer); previewTimer = null; }
        return previewNow();
      } catch (e) {
        report("send_content_to_preview", e);
        return false;
      }
    },

    // Shows the search box (with the replace row when `replace` is true); calling it again with
    // the same kind hides it.
    toggle_search: function (replace) {
      try {
        var withReplace = replace === true || replace === "true";
        var box = theEditor.searchBox;
        if (box && box.active && !!(box.replaceOption && box.replaceOption.checked) === withReplace) {
          box.hide();
          return false;
        }
        searchbox.Search(theEditor, withReplace);
        return true;
      } catch (e) {
        report("toggle_search", e);
        return false;
      }
    },

    beautify_code: function () {
      try {
        beautify.beautify(theEditor.getSession());
        return true;
      } catch (e) {
        report("beautify_code", e);
        return false;
      }
    },

    set_soft_wrap: function (value) {
      try {
        var option = wrapOption(value);
        if (option === null) {
          report("set_soft_wrap", "not a soft-wrap value: " + value);
          return false;
        }
        wrapSetting = option;
        // The shown session wraps now; the others when they are shown.
        cancelWrapLater();
        var entry = current();
        if (entry) applyWrap(entry);
        return true;
      } catch (e) {
        report("set_soft_wrap", e);
        return false;
      }
    },

    set_font_size: function (points) {
      try {
        var n = parseInt(points, 10);
        if (!(n >= 6 && n <= 72)) return false;
        theEditor.setFontSize(n + "px");
        return true;
      } catch (e) {
        report("set_font_size", e);
        return false;
      }
    },

    // Whether edits push the text to the preview by themselves (after `delay_ms` without typing).
    set_live_preview: function (enabled, delay_ms) {
      livePreview = enabled === true || enabled === "true";
      var d = parseInt(delay_ms, 10);
      if (d >= 0 && d <= 60000) previewDelayMs = d;
      if (!livePreview && previewTimer !== null) { clearTimeout(previewTimer); previewTimer = null; }
      return livePreview;
    },

    log: log
  };

  // ---- ready -----------------------------------------------------------------------------------------

  window.addEventListener("resize", function () { theEditor.resize(); });
  post("msg", { doc_ready: true });
  post("msg", { requestPreferences: {} });
})();
