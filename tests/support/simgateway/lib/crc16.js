'use strict';
// CRC-16 of SDO block transfers: polynomial 0x1021, initial value 0, no
// reflection, no final XOR (the CRC-16/XMODEM variant).

const table = new Uint16Array(256);
for (let i = 0; i < 256; ++i) {
    let c = i << 8;
    for (let b = 0; b < 8; ++b)
        c = (c & 0x8000) ? ((c << 1) ^ 0x1021) : (c << 1);
    table[i] = c & 0xFFFF;
}

function crc16(data) {
    let crc = 0;
    for (let i = 0; i < data.length; ++i)
        crc = ((crc << 8) ^ table[((crc >> 8) ^ data[i]) & 0xFF]) & 0xFFFF;
    return crc;
}

// The CANopen stack asks the native module 'node-crc' for this CRC. That
// module needs a compiler at install time, which the pinned install skips
// (npm ci --ignore-scripts); this pure-JS stand-in answers the one call the
// stack makes, crc(16, false, 0x1021, 0, 0, 0, 0, 0, data), with the CRC as a
// big-endian 2-byte buffer.
function installNodeCrcShim() {
    const Module = require('module');
    let path;
    try {
        path = require.resolve('node-crc');
    } catch (e) {
        return; // not installed: the stack will report it when loaded
    }
    const shim = new Module(path, module);
    shim.filename = path;
    shim.loaded = true;
    shim.exports = {
        crc(width, reflect, poly, init, xorOut, a, b, c, data) {
            if (width !== 16 || reflect || poly !== 0x1021 || init || xorOut)
                throw new Error('simgateway: unsupported CRC variant');
            const out = Buffer.alloc(2);
            out.writeUInt16BE(crc16(data));
            return out;
        },
    };
    require.cache[path] = shim;
}

module.exports = { crc16, installNodeCrcShim };
