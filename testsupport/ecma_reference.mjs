// What ECMAScript itself makes of Ferret's pattern searches and replacements, for the
// differential test (engine/regex_differential_test.cpp) to hold Ferret's engine against.
//
//   node ecma_reference.mjs MANIFEST.json RESULT.json
//
// MANIFEST: {"files": [path, ...],
//            "cases": [{"pattern", "ignoreCase", "replacement", "files": [index, ...]?}, ...]}
// RESULT gets, per case, whether the pattern compiles and, per file, the hit count, the
// replacement count (-1 when the replace is refused) and the SHA-256 of the file's bytes after
// the replace.
//
// Node's own RegExp (flags "gu", plus "i") does the matching; everything Ferret adds around it is
// redone here from its documented behaviour: byte-order marks, invalid UTF-8 as a barrier, and
// "$" substitution over bytes.

import { createHash } from 'node:crypto';
import { readFileSync, writeFileSync } from 'node:fs';

// ---- File bytes to text --------------------------------------------------------------------

// Length of the well-formed UTF-8 sequence at `at` (Unicode's table 3-7: no overlongs, no
// surrogates, nothing past U+10FFFF), or 0 when the byte there starts none.
function sequenceLength(bytes, at) {
    const b0 = bytes[at];
    const cont = (i, lo = 0x80, hi = 0xbf) =>
        at + i < bytes.length && bytes[at + i] >= lo && bytes[at + i] <= hi;
    if (b0 < 0x80) return 1;
    if (b0 >= 0xc2 && b0 <= 0xdf) return cont(1) ? 2 : 0;
    if (b0 === 0xe0) return cont(1, 0xa0) && cont(2) ? 3 : 0;
    if ((b0 >= 0xe1 && b0 <= 0xec) || b0 === 0xee || b0 === 0xef) return cont(1) && cont(2) ? 3 : 0;
    if (b0 === 0xed) return cont(1, 0x80, 0x9f) && cont(2) ? 3 : 0;
    if (b0 === 0xf0) return cont(1, 0x90) && cont(2) && cont(3) ? 4 : 0;
    if (b0 >= 0xf1 && b0 <= 0xf3) return cont(1) && cont(2) && cont(3) ? 4 : 0;
    if (b0 === 0xf4) return cont(1, 0x80, 0x8f) && cont(2) && cont(3) ? 4 : 0;
    return 0;
}

// The runs of valid UTF-8 between invalid bytes, each with its text and, for every UTF-16 index
// of that text, the byte offset in `bytes` (so a match maps back to bytes). Runs may be empty:
// the position between two invalid bytes is a place an empty match can be found too.
function splitRuns(bytes) {
    const runs = [];
    let start = 0;
    let at = 0;
    const close = (end) => {
        const text = bytes.toString('utf8', start, end);
        const offsets = new Uint32Array(text.length + 1);
        let unit = 0;
        let byte = start;
        while (byte < end) {
            const length = sequenceLength(bytes, byte);
            offsets[unit] = byte;
            unit += length === 4 ? 2 : 1;
            if (length === 4) offsets[unit - 1] = byte;  // never a match boundary under "u"
            byte += length;
        }
        offsets[unit] = end;
        if (unit !== text.length) throw new Error('run decoding went wrong');
        runs.push({ text, offsets });
    };
    while (at < bytes.length) {
        const length = sequenceLength(bytes, at);
        if (length === 0) {
            close(at);
            start = at + 1;
            at = start;
        } else {
            at += length;
        }
    }
    close(bytes.length);
    return runs;
}

// UTF-16 (after its mark) as UTF-8 bytes, the way Ferret reads it: an unpaired surrogate or a
// last odd byte becomes U+FFFD and makes the text inexact.
function decodeUtf16(bytes, bigEndian) {
    const units = [];
    let exact = true;
    let at = 0;
    const unitAt = (i) =>
        bigEndian ? (bytes[i] << 8) | bytes[i + 1] : (bytes[i + 1] << 8) | bytes[i];
    for (; at + 1 < bytes.length; at += 2) {
        const unit = unitAt(at);
        if (unit >= 0xd800 && unit <= 0xdbff && at + 3 < bytes.length) {
            const low = unitAt(at + 2);
            if (low >= 0xdc00 && low <= 0xdfff) {
                units.push(unit, low);
                at += 2;
                continue;
            }
        }
        if (unit >= 0xd800 && unit <= 0xdfff) {
            units.push(0xfffd);
            exact = false;
            continue;
        }
        units.push(unit);
    }
    if (at < bytes.length) {
        units.push(0xfffd);
        exact = false;
    }
    let text = '';
    for (let i = 0; i < units.length; i += 8192) {
        text += String.fromCharCode(...units.slice(i, i + 8192));
    }
    return { body: Buffer.from(text, 'utf8'), exact };
}

function encodeUtf16(utf8, bigEndian) {
    const out = Buffer.from(utf8.toString('utf8'), 'utf16le');
    if (bigEndian) out.swap16();
    return Buffer.concat([Buffer.from(bigEndian ? [0xfe, 0xff] : [0xff, 0xfe]), out]);
}

// A file as Ferret sees it: the byte-order mark decides whether it is bytes or text.
function loadFile(path) {
    const raw = readFileSync(path);
    const starts = (...b) => raw.length >= b.length && b.every((x, i) => raw[i] === x);
    let mark = 'none';
    let body = raw;
    let exact = true;
    if (starts(0xef, 0xbb, 0xbf)) {
        mark = 'utf8';
        body = raw.subarray(3);
    } else if (starts(0xff, 0xfe) && !starts(0xff, 0xfe, 0, 0)) {
        mark = 'utf16le';
        ({ body, exact } = decodeUtf16(raw.subarray(2), false));
    } else if (starts(0xfe, 0xff)) {
        mark = 'utf16be';
        ({ body, exact } = decodeUtf16(raw.subarray(2), true));
    }
    const runs = splitRuns(body);
    return { path, raw, mark, body, exact, runs, hasBarrier: runs.length > 1 };
}

// ---- Patterns and replacements -------------------------------------------------------------

// Whether the pattern holds "^" or "$" as an assertion (not escaped, not in a class).
function hasLineAnchor(pattern) {
    let inClass = false;
    for (let i = 0; i < pattern.length; ++i) {
        const c = pattern[i];
        if (c === '\\') {
            ++i;
        } else if (inClass) {
            if (c === ']') inClass = false;
        } else if (c === '[') {
            inClass = true;
        } else if (c === '^' || c === '$') {
            return true;
        }
    }
    return false;
}

// GetSubstitution's reading of a template, split once per pattern: literal texts, "$&", "$`",
// "$'", numbered groups (with the two-digit rule) and, when the pattern names groups, "$<name>".
function parseTemplate(template, groupCount, hasNames) {
    const pieces = [];
    let literal = '';
    const flush = () => {
        if (literal !== '') pieces.push({ kind: 'literal', bytes: Buffer.from(literal, 'utf8') });
        literal = '';
    };
    const isDigit = (c) => c !== undefined && c >= '0' && c <= '9';
    for (let i = 0; i < template.length; ) {
        const c = template[i];
        const next = template[i + 1];
        if (c !== '$' || next === undefined) {
            literal += c;
            ++i;
        } else if (next === '$') {
            literal += '$';
            i += 2;
        } else if (next === '&' || next === '`' || next === "'") {
            flush();
            pieces.push({ kind: next === '&' ? 'match' : next === '`' ? 'before' : 'after' });
            i += 2;
        } else if (isDigit(next)) {
            let digits = isDigit(template[i + 2]) ? 2 : 1;
            let index = Number(template.substr(i + 1, digits));
            if (index > groupCount && digits === 2) {
                digits = 1;
                index = Number(next);
            }
            if (index >= 1 && index <= groupCount) {
                flush();
                pieces.push({ kind: 'group', index });
            } else {
                literal += template.substr(i, 1 + digits);
            }
            i += 1 + digits;
        } else if (next === '<') {
            const close = template.indexOf('>', i + 2);
            if (!hasNames || close < 0) {
                literal += '$<';
                i += 2;
            } else {
                flush();
                pieces.push({ kind: 'name', name: template.substring(i + 2, close) });
                i = close + 1;
            }
        } else {
            literal += '$';
            ++i;
        }
    }
    flush();
    return pieces;
}

function compile(item) {
    const flags = item.ignoreCase ? 'giu' : 'gu';
    const regex = new RegExp(item.pattern, flags);
    // An alternative that always matches shows the groups without needing a text.
    const probe = new RegExp(`${item.pattern}|`, flags).exec('');
    const groupCount = probe.length - 1;
    const hasNames = probe.groups !== undefined;
    return {
        regex,
        groupCount,
        hasNames,
        pieces: parseTemplate(item.replacement, groupCount, hasNames),
        anchored: hasLineAnchor(item.pattern),
    };
}

const isHigh = (unit) => unit >= 0xd800 && unit <= 0xdbff;
const isLow = (unit) => unit >= 0xdc00 && unit <= 0xdfff;
// Whether `index` falls between the two halves of a surrogate pair of `text`.
const insidePair = (text, index) =>
    index > 0 && isLow(text.charCodeAt(index)) && isHigh(text.charCodeAt(index - 1));

// ECMAScript's global iteration over one text: matches in order, and after an empty match the
// search moves on one code point. V8 also tries the places between the halves of a surrogate
// pair after a failed attempt ("a\u{1F600}b" gives a match of /\B/u inside the emoji); under the
// "u" flag those places do not exist, so such a match is passed over and the search goes on from
// the next character. `state.passedOver` tells the caller it happened.
function* matchesIn(regex, text, state) {
    regex.lastIndex = 0;
    while (regex.lastIndex <= text.length) {
        const m = regex.exec(text);
        if (m === null) return;
        const end = m.index + m[0].length;
        if (insidePair(text, m.index)) {
            state.passedOver = true;
            regex.lastIndex = m.index + 1;
            continue;
        }
        if (insidePair(text, end)) throw new Error(`a match of ${regex} ends inside a character`);
        yield m;
        regex.lastIndex = m[0].length > 0 ? end : end + (insidePair(text, end + 1) ? 2 : 1);
    }
}

// Every match in every run, in order, and the body with each replaced.
function run(compiled, file) {
    const { regex, pieces } = compiled;
    const body = file.body;
    const out = [];
    const state = { passedOver: false };
    let copied = 0;
    let count = 0;
    for (const { text, offsets } of file.runs) {
        for (const m of matchesIn(regex, text, state)) {
            const start = offsets[m.index];
            const end = offsets[m.index + m[0].length];
            out.push(body.subarray(copied, start));
            for (const piece of pieces) {
                switch (piece.kind) {
                    case 'literal':
                        out.push(piece.bytes);
                        break;
                    case 'match':
                        out.push(body.subarray(start, end));
                        break;
                    case 'before':
                        out.push(body.subarray(0, start));
                        break;
                    case 'after':
                        out.push(body.subarray(end));
                        break;
                    case 'group':
                        if (m[piece.index] !== undefined) {
                            out.push(Buffer.from(m[piece.index], 'utf8'));
                        }
                        break;
                    case 'name': {
                        const value = m.groups[piece.name];
                        if (value !== undefined) out.push(Buffer.from(value, 'utf8'));
                        break;
                    }
                }
            }
            copied = end;
            ++count;
        }
    }
    out.push(body.subarray(copied));
    return { count, replaced: Buffer.concat(out), passedOver: state.passedOver };
}

// The file's bytes after the replace, re-encoded as it was marked, and how many replacements
// were made: -1 when the replace is refused (damaged UTF-16, which would not encode back to
// the same bytes outside the matches).
function fileAfterReplace(file, count, replaced) {
    if (count === 0) return { bytes: file.raw, replacements: 0 };
    switch (file.mark) {
        case 'utf8':
            return {
                bytes: Buffer.concat([file.raw.subarray(0, 3), replaced]),
                replacements: count,
            };
        case 'utf16le':
        case 'utf16be':
            if (!file.exact) return { bytes: file.raw, replacements: -1 };
            return { bytes: encodeUtf16(replaced, file.mark === 'utf16be'), replacements: count };
        default:
            return { bytes: replaced, replacements: count };
    }
}

// Node's own replace must agree with the substitution above wherever the text is one run (and V8's
// surrogate-pair slip did not come into play), so a mistake in it shows up as a failure of the
// reference rather than as a finding against Ferret.
// Patterns with back-references are left out: V8's global replace lets a back-reference see the
// previous match's group (/(a)|\1b/gu), where exec, like ECMAScript, starts each match afresh.
function selfCheck(item, compiled, file, replaced, passedOver) {
    if (file.hasBarrier || passedOver || /\\(k<|[1-9])/.test(item.pattern)) return;
    const text = file.runs[0].text;
    const expected = text.replace(compiled.regex, item.replacement);
    if (expected !== replaced.toString('utf8')) {
        const { pattern, ignoreCase, replacement } = item;
        throw new Error(
            "reference substitution disagrees with Node's own replace for " +
                JSON.stringify({ pattern, ignoreCase, replacement, file: file.path }),
        );
    }
}

// ---- Main ----------------------------------------------------------------------------------

const [manifestPath, resultPath] = process.argv.slice(2);
if (!manifestPath || !resultPath) {
    console.error('usage: node ecma_reference.mjs MANIFEST.json RESULT.json');
    process.exit(2);
}
const manifest = JSON.parse(readFileSync(manifestPath, 'utf8'));
const files = manifest.files.map(loadFile);

function compileOrError(item) {
    try {
        return { compiled: compile(item) };
    } catch (error) {
        return { error: String(error.message) };
    }
}

function pair(item, compiled, fileIndex) {
    const file = files[fileIndex];
    if (file.hasBarrier && compiled.anchored) {
        // What "^" and "$" mean next to an invalid byte is Ferret's own choice.
        return { skip: true };
    }
    const { count, replaced, passedOver } = run(compiled, file);
    const after = fileAfterReplace(file, count, replaced);
    if (file.body.length <= 4096) selfCheck(item, compiled, file, replaced, passedOver);
    return { count, replacements: after.replacements, bytes: after.bytes };
}

const allFiles = files.map((_, i) => i);
const results = manifest.cases.map((item) => {
    const { compiled, error } = compileOrError(item);
    if (!compiled) return { valid: false, error };
    const perFile = (item.files ?? allFiles).map((fileIndex) => {
        const result = pair(item, compiled, fileIndex);
        if (result.skip) return { file: fileIndex, skip: true };
        return {
            file: fileIndex,
            count: result.count,
            replacements: result.replacements,
            sha256: createHash('sha256').update(result.bytes).digest('hex'),
        };
    });
    return { valid: true, results: perFile };
});
writeFileSync(resultPath, JSON.stringify({ cases: results }));
