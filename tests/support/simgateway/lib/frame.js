'use strict';
// CAN frames and their lines in the ASCII adapter protocol.
//
// A frame is { id, ext, rtr, dlc, data } with data a Buffer of dlc bytes
// (empty for remote frames). Lines are written without their CR.

// Bit rates of the "S<n>" command, indexed by the code digit.
const RATE_BY_CODE = [10000, 20000, 50000, 100000, 125000, 250000, 500000, 800000, 1000000];

const HEX = /^[0-9a-fA-F]*$/;

// Parses a frame command ("t1232aabb", "T1234abcd2a0b0", "r1230",
// "R123456780"); null when it is malformed. Remote frames may carry the
// data digits some adapters send for them; they are ignored.
function parseFrameLine(line) {
    const c = line[0];
    const ext = c === 'T' || c === 'R';
    const rtr = c === 'r' || c === 'R';
    if (!ext && !rtr && c !== 't')
        return null;
    const idLen = ext ? 8 : 3;
    if (line.length < 1 + idLen + 1 || !HEX.test(line.substr(1)))
        return null;
    const id = parseInt(line.substr(1, idLen), 16);
    const dlc = parseInt(line[1 + idLen], 16);
    if (dlc > 8 || id > (ext ? 0x1FFFFFFF : 0x7FF))
        return null;
    const digits = line.substr(2 + idLen);
    if (rtr) {
        if (digits.length !== 0 && digits.length !== 2 * dlc)
            return null;
        return { id, ext, rtr, dlc, data: Buffer.alloc(0) };
    }
    if (digits.length !== 2 * dlc)
        return null;
    return { id, ext, rtr, dlc, data: Buffer.from(digits, 'hex') };
}

// The line an adapter sends for a received frame; `stamp` (0..65535) is
// appended as four hex digits when not null.
function formatFrameLine(frame, upper, stamp) {
    let s = (frame.rtr ? 'r' : 't');
    if (frame.ext)
        s = s.toUpperCase() + frame.id.toString(16).padStart(8, '0');
    else
        s += frame.id.toString(16).padStart(3, '0');
    s += frame.dlc.toString();
    if (!frame.rtr)
        s += frame.data.toString('hex');
    if (stamp !== null && stamp !== undefined)
        s += stamp.toString(16).padStart(4, '0');
    if (upper)
        s = s[0] + s.substr(1).toUpperCase();
    return s;
}

function frameText(frame) {
    return formatFrameLine(frame, false, null);
}

// Exact length of the frame on the wire in bits: the stuffed part (start of
// frame to CRC), then CRC delimiter, ACK slot and delimiter, end of frame
// and the 3-bit intermission.
function frameBits(frame) {
    const bits = [0];
    const push = (value, count) => {
        for (let i = count - 1; i >= 0; --i)
            bits.push((value >>> i) & 1);
    };
    if (frame.ext) {
        push(frame.id >>> 18, 11);
        push(1, 1); // SRR
        push(1, 1); // IDE
        push(frame.id & 0x3FFFF, 18);
        push(frame.rtr ? 1 : 0, 1);
        push(0, 2); // r1, r0
    } else {
        push(frame.id, 11);
        push(frame.rtr ? 1 : 0, 1);
        push(0, 2); // IDE, r0
    }
    push(frame.dlc, 4);
    if (!frame.rtr)
        for (const b of frame.data)
            push(b, 8);
    let crc = 0;
    for (const bit of bits) {
        const next = ((crc >> 14) & 1) ^ bit;
        crc = (crc << 1) & 0x7FFF;
        if (next)
            crc ^= 0x4599;
    }
    push(crc, 15);
    let stuffed = 0;
    let run = 0;
    let last = -1;
    for (const bit of bits) {
        if (bit === last) {
            ++run;
        } else {
            last = bit;
            run = 1;
        }
        if (run === 5) {
            ++stuffed;
            last = bit ^ 1; // the stuff bit starts the next run
            run = 1;
        }
    }
    return bits.length + stuffed + 13;
}

module.exports = { RATE_BY_CODE, parseFrameLine, formatFrameLine, frameText, frameBits };
