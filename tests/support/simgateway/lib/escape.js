'use strict';
// One-line text form of raw bytes for the control channel: printable
// ASCII stays, backslash and control/high bytes are escaped (\r \n \t \a \\
// and \xHH), so "C\r" arrives on stdout as the five characters C\r.

function escapeBytes(buf) {
    let out = '';
    for (const b of buf) {
        if (b === 0x5C) out += '\\\\';
        else if (b === 0x0D) out += '\\r';
        else if (b === 0x0A) out += '\\n';
        else if (b === 0x09) out += '\\t';
        else if (b === 0x07) out += '\\a';
        else if (b >= 0x20 && b < 0x7F) out += String.fromCharCode(b);
        else out += '\\x' + b.toString(16).padStart(2, '0');
    }
    return out;
}

function unescapeText(text) {
    const out = [];
    for (let i = 0; i < text.length; ++i) {
        const ch = text.charCodeAt(i);
        if (ch !== 0x5C || i + 1 >= text.length) {
            out.push(ch & 0xFF);
            continue;
        }
        const e = text[++i];
        switch (e) {
            case 'r': out.push(0x0D); break;
            case 'n': out.push(0x0A); break;
            case 't': out.push(0x09); break;
            case 'a': out.push(0x07); break;
            case 's': out.push(0x20); break;
            case '\\': out.push(0x5C); break;
            case 'x': {
                const hex = text.substr(i + 1, 2);
                if (!/^[0-9a-fA-F]{2}$/.test(hex))
                    throw new Error('bad escape \\x' + hex);
                out.push(parseInt(hex, 16));
                i += 2;
                break;
            }
            default:
                throw new Error('bad escape \\' + e);
        }
    }
    return Buffer.from(out);
}

module.exports = { escapeBytes, unescapeText };
