#!/usr/bin/env python3
"""Finds and replaces text in word-processor documents and spreadsheets for Ferret.

Started by Ferret with the path of LibreOffice's soffice program and, optionally, the folder for
its profile (Ferret gives one inside the private folder that is also LibreOffice's TMPDIR, and
removes that folder however LibreOffice ends). Starts one hidden LibreOffice with a private
profile, then answers requests, one JSON object per line on standard input, with
one JSON object per line on standard output, until standard input ends; LibreOffice is shut
down on the way out.

Requests:
  {"op": "word" | "sheet", "path": ..., "find": ..., "replace": ..., "match_case": bool,
   "whole_word": bool, "rewrite": bool, "save_to": ...}
A rewrite never touches "path": the changed document is saved, in the format it was read in, as
the new file "save_to", and only when there was something to replace. Ferret puts it in place.
Answers:
  {"count": n, "cells": [[sheet, "$A$1", text], ...], "paragraphs": [[text, hits], ...],
   "saved": bool, "error": 0 | number, "description": text}
A cell's text and a paragraph's text are those after the rewrite, when there was one; the
paragraphs are those of a document's hits, in order, each once.
The first line written, before any request, is {"ready": true} or an answer with an error.
"""

import json
import os
import subprocess
import sys
import tempfile
import time
import uuid

import uno
from com.sun.star.beans import PropertyValue

NEVER_EXECUTE_MACROS = 0
NO_LINK_UPDATES = 0
SEARCH_VALUES = 1

# Error numbers Ferret shows; the descriptions say what went wrong.
ERROR_START = 429
ERROR_OPEN = 5151
ERROR_CALL = 440
ERROR_SAVE = 5153


class OfficeError(Exception):
    def __init__(self, number, description):
        super().__init__(description)
        self.number = number
        self.description = description


def prop(name, value):
    p = PropertyValue()
    p.Name = name
    p.Value = value
    return p


def column_letters(column):
    letters = ""
    column += 1
    while column > 0:
        column, rest = divmod(column - 1, 26)
        letters = chr(ord("A") + rest) + letters
    return letters


class Office:
    def __init__(self, soffice, profile=None):
        if profile:
            os.makedirs(profile, mode=0o700, exist_ok=True)
            self.profile = profile
        else:
            self.profile = tempfile.mkdtemp(prefix="ferret-office-")
        pipe = "ferret_%d_%s" % (os.getpid(), uuid.uuid4().hex[:12])
        connect = "pipe,name=%s;urp;StarOffice.ComponentContext" % pipe
        self.process = subprocess.Popen(
            [soffice, "--headless", "--invisible", "--nologo", "--norestore", "--nodefault",
             "--nolockcheck", "--nofirststartwizard",
             "-env:UserInstallation=" + uno.systemPathToFileUrl(self.profile),
             "--accept=" + connect],
            stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        local = uno.getComponentContext()
        resolver = local.ServiceManager.createInstanceWithContext(
            "com.sun.star.bridge.UnoUrlResolver", local)
        deadline = time.monotonic() + 120
        while True:
            try:
                context = resolver.resolve("uno:" + connect)
                break
            except Exception:
                if self.process.poll() is not None or time.monotonic() > deadline:
                    self.close()
                    raise OfficeError(ERROR_START, "LibreOffice could not be started")
                time.sleep(0.1)
        self.desktop = context.ServiceManager.createInstanceWithContext(
            "com.sun.star.frame.Desktop", context)

    def open(self, path):
        url = uno.systemPathToFileUrl(os.path.abspath(path))
        try:
            # Documents from anywhere: their macros never run, their links are not followed.
            document = self.desktop.loadComponentFromURL(
                url, "_blank", 0,
                (prop("Hidden", True), prop("MacroExecutionMode", NEVER_EXECUTE_MACROS),
                 prop("UpdateDocMode", NO_LINK_UPDATES), prop("Silent", True)))
        except Exception as error:
            raise OfficeError(ERROR_OPEN, "the document cannot be opened: %s" % error)
        if document is None:
            raise OfficeError(ERROR_OPEN, "the document cannot be opened")
        return document

    def close(self):
        try:
            if getattr(self, "desktop", None) is not None:
                self.desktop.terminate()
        except Exception:
            pass
        if self.process.poll() is None:
            try:
                self.process.wait(timeout=20)
            except subprocess.TimeoutExpired:
                self.process.kill()
                self.process.wait()
        subprocess.run(["rm", "-rf", self.profile], check=False)


def save_to(document, path):
    """Saves the document as the new file `path`, in the format it was read in."""
    filter_name = ""
    for arg in document.getArgs():
        if arg.Name == "FilterName":
            filter_name = arg.Value
    if not path:
        raise OfficeError(ERROR_SAVE, "the document cannot be saved: no new file was named")
    try:
        document.storeToURL(uno.systemPathToFileUrl(path),
                            (prop("FilterName", filter_name), prop("Overwrite", False)))
    except Exception as error:
        raise OfficeError(ERROR_SAVE, "the document cannot be saved: %s" % error)


def same_paragraph(first, second):
    """Whether two cursors at paragraph starts are at the same one."""
    try:
        text = first.getText()
        return text == second.getText() and text.compareRegionStarts(first, second) == 0
    except Exception:
        return False


def hit_paragraphs(found):
    """A cursor at the start of each paragraph that holds hits, in order, with its hits. The
    cursors stay where they are through a replacement."""
    paragraphs = []
    for index in range(found.getCount()):
        hit = found.getByIndex(index)
        try:
            cursor = hit.getText().createTextCursorByRange(hit.getStart())
            cursor.gotoStartOfParagraph(False)
        except Exception:
            cursor = None
        if paragraphs and cursor is not None and paragraphs[-1][0] is not None and \
                same_paragraph(paragraphs[-1][0], cursor):
            paragraphs[-1][1] += 1
        else:
            paragraphs.append([cursor, 1])
    return paragraphs


def paragraph_texts(paragraphs):
    texts = []
    for cursor, hits in paragraphs:
        text = ""
        if cursor is not None:
            try:
                # A replacement at the paragraph's start may have moved the cursor past it.
                cursor.gotoStartOfParagraph(False)
                cursor.gotoEndOfParagraph(True)
                text = cursor.getString()
            except Exception:
                pass
        texts.append([text, hits])
    return texts


def word(office, request):
    document = office.open(request["path"])
    try:
        try:
            search = document.createSearchDescriptor()
            search.SearchString = request["find"]
            search.SearchCaseSensitive = request["match_case"]
            search.SearchWords = request.get("whole_word", False)
            found = document.findAll(search)
            count = found.getCount() if found is not None else 0
            paragraphs = hit_paragraphs(found) if count > 0 else []
            if request["rewrite"] and count > 0:
                replace = document.createReplaceDescriptor()
                replace.SearchString = request["find"]
                replace.ReplaceString = request["replace"]
                replace.SearchCaseSensitive = request["match_case"]
                replace.SearchWords = request.get("whole_word", False)
                document.replaceAll(replace)
        except OfficeError:
            raise
        except Exception as error:
            raise OfficeError(ERROR_CALL, str(error))
        saved = request["rewrite"] and count > 0
        texts = paragraph_texts(paragraphs)
        if saved:
            save_to(document, request.get("save_to", ""))
        return {"count": count, "cells": [], "paragraphs": texts, "saved": saved}
    finally:
        try:
            document.close(True)
        except Exception:
            pass


def icu_literal(text):
    """`text` as an ICU pattern that matches just it: a backslash before every character that
    is not a letter, a digit or a blank."""
    return "".join(c if c.isalnum() or c == " " else "\\" + c for c in text)


def sheet(office, request):
    """Hit cells sheet by sheet, row by row; within a sheet the first cell comes last, as a
    search that starts after it would find it."""
    document = office.open(request["path"])
    count = 0
    cells = []
    rewrite = request["rewrite"] and request["replace"] != ""
    try:
        try:
            sheets = document.getSheets()
            for index in range(sheets.getCount()):
                current = sheets.getByIndex(index)
                search = current.createSearchDescriptor()
                search.SearchCaseSensitive = request["match_case"]
                # In a sheet "words" means whole cells: a whole word is asked for as a pattern.
                search.SearchWords = False
                if request.get("whole_word", False):
                    search.SearchRegularExpression = True
                    search.SearchString = r"\b" + icu_literal(request["find"]) + r"\b"
                else:
                    search.SearchString = request["find"]
                search.SearchType = SEARCH_VALUES
                search.SearchByRow = True
                found = current.findAll(search)
                positions = []
                if found is not None:
                    for r in range(found.getCount()):
                        address = found.getByIndex(r).getRangeAddress()
                        for row in range(address.StartRow, address.EndRow + 1):
                            for column in range(address.StartColumn, address.EndColumn + 1):
                                positions.append((row, column))
                positions.sort()
                if positions and positions[0] == (0, 0):
                    positions.append(positions.pop(0))
                for row, column in positions:
                    cell = current.getCellByPosition(column, row)
                    if rewrite:
                        # The whole cell takes the replacement, read as if typed in.
                        cell.setFormula(request["replace"])
                    cells.append([current.getName(), "$%s$%d" % (column_letters(column), row + 1),
                                  cell.getString()])
                    count += 1
        except Exception as error:
            return {"count": count, "cells": cells, "error": ERROR_CALL,
                    "description": str(error)}
        saved = rewrite and count > 0
        if saved:
            try:
                save_to(document, request.get("save_to", ""))
            except OfficeError as error:
                return {"count": count, "cells": cells, "error": error.number,
                        "description": error.description}
        return {"count": count, "cells": cells, "saved": saved}
    finally:
        try:
            document.close(True)
        except Exception:
            pass


def answer(message):
    sys.stdout.write(json.dumps(message) + "\n")
    sys.stdout.flush()


def main():
    if len(sys.argv) not in (2, 3):
        sys.stderr.write("usage: ferret_office_bridge.py SOFFICE [PROFILE]\n")
        return 2
    try:
        office = Office(sys.argv[1], sys.argv[2] if len(sys.argv) == 3 else None)
    except OfficeError as error:
        answer({"count": -1, "cells": [], "error": error.number, "description": error.description})
        return 1
    try:
        answer({"ready": True})
        for line in sys.stdin:
            if not line.strip():
                continue
            request = json.loads(line)
            try:
                if request["op"] == "word":
                    result = word(office, request)
                elif request["op"] == "sheet":
                    result = sheet(office, request)
                else:
                    result = {"count": -1, "cells": [], "error": ERROR_CALL,
                              "description": "unknown request " + str(request["op"])}
            except OfficeError as error:
                result = {"count": -1, "cells": [], "error": error.number,
                          "description": error.description}
            except Exception as error:
                result = {"count": -1, "cells": [], "error": ERROR_CALL,
                          "description": str(error)}
            answer(result)
    finally:
        office.close()
    return 0


if __name__ == "__main__":
    sys.exit(main())
