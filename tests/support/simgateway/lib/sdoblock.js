'use strict';
// SDO block download server (CiA 301), run in front of the stack's SDO
// server so that the block size it grants and its CRC support can be chosen
// per node.
//
// Initiate (client C0h/C2h/C4h/C6h) is answered A4h when the server supports
// the CRC (bit 2 announces the capability, as standard servers do), else A0h,
// with the block size granted; the CRC is used only when the client asked for
// it too (bit 2 of its request). A node set not to support block download
// aborts the initiate with 05040001h, as a server without it does. Segments are taken in
// sequence; after the segment numbered with the block size, or the one
// marked last, the server acknowledges with A2h, the last sequence number
// received in order and the block size for the next block (the client then
// resends what was not acknowledged). The end request (C1h + 4·n) carries the
// number n of unused bytes in the last segment and the CRC; the server
// checks size and CRC, writes the object and answers A1h.

const { crc16 } = require('./crc16');
const SdoAbort = require('./sdoabort');

const IDLE = 0;
const RECEIVING = 1;
const ENDING = 2;

class BlockDownload {
    constructor(node) {
        this.node = node;
        this.state = IDLE;
        this.timer = null;
        this.transfers = 0;   // block transfers begun
    }

    get active() { return this.state !== IDLE; }

    reset() {
        this.state = IDLE;
        this.received = null;
        clearTimeout(this.timer);
        this.timer = null;
    }

    // Takes one SDO request frame; false when it is not part of a block
    // download and belongs to the stack.
    handle(data) {
        if (this.state === IDLE)
            return this._initiate(data);
        this._touch();
        if (this.state === RECEIVING)
            this._segment(data);
        else
            this._end(data);
        return true;
    }

    _initiate(data) {
        const cmd = data[0];
        if ((cmd & 0xE0) !== 0xC0)
            return false;
        const index = data.readUInt16LE(1);
        const sub = data[3];
        if (cmd & 0x01) { // end request without a transfer
            this.node.sdoAbort(index, sub, SdoAbort.BAD_COMMAND);
            return true;
        }
        if (!this.node.opts.block) {
            // A server without block transfer: the command is not known.
            this.node.sdoAbort(index, sub, SdoAbort.BAD_COMMAND);
            return true;
        }
        const found = this.node.lookup(index, sub);
        if (found.code) {
            this.node.sdoAbort(index, sub, found.code);
            return true;
        }
        if (found.entry.accessType === 'ro' || found.entry.accessType === 'const') {
            this.node.sdoAbort(index, sub, SdoAbort.READ_ONLY);
            return true;
        }
        const opts = this.node.opts;
        const clientCrc = (cmd >> 2) & 1;
        const serverCrc = opts.crc === 'on' ? 1 : opts.crc === 'off' ? 0 : clientCrc;
        this.index = index;
        this.sub = sub;
        this.entry = found.entry;
        this.size = (cmd & 0x02) ? data.readUInt32LE(4) : null;
        this.useCrc = !!(clientCrc && serverCrc);
        ++this.transfers;
        this.blockSize = opts.blksize;
        // The data goes into one buffer, as a device writes it into its
        // memory: seven bytes a segment, grown when the size was not
        // indicated or is large.
        this.received = Buffer.alloc(Math.min(this.size !== null ? this.size : 0, 1 << 20) + 7);
        this.receivedLength = 0;
        this.expected = 1;
        this.ackSeq = 0;
        this.state = RECEIVING;
        this._touch();
        this.node.sdoRespond([0xA0 | (serverCrc << 2), index & 0xFF, index >> 8, sub, this.blockSize, 0, 0, 0]);
        return true;
    }

    _segment(data) {
        if (data[0] === 0x80) { // the client aborts
            this.reset();
            return;
        }
        if (this.node.opts.block === 2 && this.transfers > 1) {
            // A server whose block transfers break off after the first one.
            this._abort(0x08000020);
            return;
        }
        const seq = data[0] & 0x7F;
        const last = (data[0] & 0x80) !== 0;
        if (seq === 0 || seq > this.blockSize) {
            this._abort(SdoAbort.BAD_BLOCK_SEQUENCE);
            return;
        }
        let tookLast = false;
        if (seq === this.expected) {
            if (this.receivedLength + 7 > this.received.length) {
                const grown = Buffer.alloc(2 * this.received.length + 7);
                this.received.copy(grown, 0, 0, this.receivedLength);
                this.received = grown;
            }
            data.copy(this.received, this.receivedLength, 1, 8);
            this.receivedLength += 7;
            this.ackSeq = seq;
            ++this.expected;
            tookLast = last;
        }
        if (!last && seq !== this.blockSize)
            return;
        // End of a block: acknowledge what arrived in order. A lost segment
        // makes the client resend from the one after ackSeq, numbered from 1.
        this.blockSize = this.node.opts.blksize;
        this.node.sdoRespond([0xA2, this.ackSeq, this.blockSize, 0, 0, 0, 0, 0]);
        if (tookLast) {
            this.state = ENDING;
        } else {
            this.expected = 1;
            this.ackSeq = 0;
        }
    }

    _end(data) {
        if (data[0] === 0x80) {
            this.reset();
            return;
        }
        if ((data[0] & 0xE3) !== 0xC1) {
            this._abort(SdoAbort.BAD_COMMAND);
            return;
        }
        const unused = (data[0] >> 2) & 7;
        const payload = this.received.subarray(0, Math.max(0, this.receivedLength - unused));
        if (this.size !== null && payload.length !== this.size) {
            this._abort(SdoAbort.BAD_LENGTH);
            return;
        }
        if (this.useCrc && data.readUInt16LE(1) !== crc16(payload)) {
            this._abort(SdoAbort.BAD_BLOCK_CRC);
            return;
        }
        const code = this.node.writeEntry(this.entry, Buffer.from(payload));
        if (code) {
            this._abort(code);
            return;
        }
        this.node.sdoRespond([0xA1, 0, 0, 0, 0, 0, 0, 0]);
        this.node.event(`DOWNLOAD ${this.node.handle} ${hex4(this.index)}:${hex2(this.sub)} ${payload.length} block${this.useCrc ? ' crc' : ''}`);
        this.reset();
    }

    _abort(code) {
        this.node.sdoAbort(this.index, this.sub, code);
        this.reset();
    }

    // The time-out restarts with every request; the timer is reused rather
    // than made anew for each segment.
    _touch() {
        if (this.timer) {
            this.timer.refresh();
            return;
        }
        this.timer = setTimeout(() => {
            this.timer = null;
            if (this.state !== IDLE)
                this._abort(SdoAbort.TIMEOUT);
        }, this.node.opts.sdotimeout);
    }
}

function hex4(v) { return v.toString(16).padStart(4, '0'); }
function hex2(v) { return v.toString(16).padStart(2, '0'); }

module.exports = { BlockDownload };
