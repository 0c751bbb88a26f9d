#!/usr/bin/env python3
"""Makes and reads office documents for Ferret's tests, through LibreOffice.

  office_fixture.py BRIDGE_DIR SOFFICE < requests.json > answers.json

The input is a JSON list of requests:
  {"op": "make", "path": "x.doc", "paragraphs": ["text", ...]}   .doc, .dot, .docx, .odt
  {"op": "make", "path": "x.xls", "sheets": [["Name", [["A1", "B1"], ["A2"]]], ...]}
                                                          .xls, .xlt, .xlsx, .ods
  {"op": "dump", "path": ...}
The output is a JSON list with one answer per request; a dump gives {"filter": ..., "text": ...}
for documents and {"filter": ..., "sheets": [[name, rows]]} for spreadsheets.
"""

import json
import os
import sys

FILTERS = {
    ".doc": ("private:factory/swriter", "MS Word 97"),
    ".dot": ("private:factory/swriter", "MS Word 97 Vorlage"),
    ".xls": ("private:factory/scalc", "MS Excel 97"),
    ".xlt": ("private:factory/scalc", "MS Excel 97 Vorlage/Template"),
    ".docx": ("private:factory/swriter", "MS Word 2007 XML"),
    ".odt": ("private:factory/swriter", "writer8"),
    ".xlsx": ("private:factory/scalc", "Calc MS Excel 2007 XML"),
    ".ods": ("private:factory/scalc", "calc8"),
}


def make(bridge, office, request):
    path = request["path"]
    factory, filter_name = FILTERS[os.path.splitext(path)[1].lower()]
    document = office.desktop.loadComponentFromURL(factory, "_blank", 0,
                                                   (bridge.prop("Hidden", True),))
    try:
        if "paragraphs" in request:
            text = document.getText()
            cursor = text.createTextCursor()
            for index, paragraph in enumerate(request["paragraphs"]):
                if index > 0:
                    text.insertControlCharacter(cursor, 0, False)  # PARAGRAPH_BREAK
                text.insertString(cursor, paragraph, False)
        else:
            sheets = document.getSheets()
            wanted = request["sheets"]
            while sheets.getCount() < len(wanted):
                sheets.insertNewByName("Sheet%d" % (sheets.getCount() + 1), sheets.getCount())
            for index, (name, rows) in enumerate(wanted):
                sheet = sheets.getByIndex(index)
                sheet.setName(name)
                for row, values in enumerate(rows):
                    for column, value in enumerate(values):
                        if value != "":
                            sheet.getCellByPosition(column, row).setString(value)
        document.storeToURL(bridge.uno.systemPathToFileUrl(os.path.abspath(path)),
                            (bridge.prop("FilterName", filter_name),
                             bridge.prop("Overwrite", True)))
    finally:
        document.close(True)
    return {"made": path}


def dump(bridge, office, request):
    document = office.open(request["path"])
    try:
        filter_name = ""
        for arg in document.getArgs():
            if arg.Name == "FilterName":
                filter_name = arg.Value
        if hasattr(document, "getSheets"):
            sheets = []
            for index in range(document.getSheets().getCount()):
                sheet = document.getSheets().getByIndex(index)
                cursor = sheet.createCursor()
                cursor.gotoEndOfUsedArea(False)
                end = cursor.getRangeAddress()
                rows = []
                for row in range(end.EndRow + 1):
                    rows.append([sheet.getCellByPosition(column, row).getString()
                                 for column in range(end.EndColumn + 1)])
                sheets.append([sheet.getName(), rows])
            return {"filter": filter_name, "sheets": sheets}
        return {"filter": filter_name, "text": document.getText().getString()}
    finally:
        document.close(True)


def main():
    sys.path.insert(0, sys.argv[1])
    import ferret_office_bridge as bridge
    office = bridge.Office(sys.argv[2])
    try:
        answers = []
        for request in json.load(sys.stdin):
            answers.append((make if request["op"] == "make" else dump)(bridge, office, request))
        json.dump(answers, sys.stdout)
    finally:
        office.close()


if __name__ == "__main__":
    main()
