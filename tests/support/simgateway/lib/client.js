'use strict';
// One TCP client of the gateway: a CAN channel driven by the ASCII adapter
// protocol. Commands end with CR; the answer is CR when done, BEL when
// refused. Frames received from the bus are sent as frame lines, and each
// frame this client sent comes back once it was on the bus as the same line
// with an "e" in front.

const { RATE_BY_CODE, parseFrameLine, formatFrameLine } = require('./frame');
const { escapeBytes } = require('./escape');
const { nowMs } = require('./bus');

const CR = '\r';
const BEL = '\x07';

// Status byte of the "F" answer.
const STATUS_BUS_ERROR = 0x80;
const STATUS_ERROR_PASSIVE = 0x20;

class Client {
    constructor(gateway, socket, cid) {
        this.gw = gateway;
        this.socket = socket;
        this.cid = cid;
        this.kind = 'client';
        this.name = 'c' + cid;
        this.rxText = '';
        this.isOpen = false;
        this.listenOnly = false;
        this.rate = null;       // bit rate from the last "S" command
        this.stamps = false;    // "Z1": time stamps on frame lines
        this.status = 0;        // latched status flags, cleared by "F"
        this.outParts = [];
        this.flushScheduled = false;

        socket.setNoDelay(true);
        socket.on('data', (chunk) => this._onData(chunk));
        socket.on('error', () => { /* reported through 'close' */ });
        socket.on('close', () => this.gw.clientClosed(this));
    }

    onBus() { return this.isOpen; }

    deliver(frame, echo) {
        const stamp = this.stamps ? Math.floor(nowMs()) % 65536 : null;
        this.send((echo ? 'e' : '') + formatFrameLine(frame, this.gw.upperHex, stamp) + CR);
    }

    // Queues text for the client; everything queued in one turn of the event
    // loop goes out in one write.
    send(text) {
        this.outParts.push(text);
        if (!this.flushScheduled) {
            this.flushScheduled = true;
            process.nextTick(() => this.flush());
        }
    }

    flush() {
        this.flushScheduled = false;
        if (this.outParts.length === 0)
            return;
        const text = this.outParts.join('');
        this.outParts = [];
        if (this.socket.destroyed)
            return;
        const buf = Buffer.from(text, 'latin1');
        if (this.gw.log.tx)
            this.gw.out(`TX ${this.cid} ${escapeBytes(buf)}${this.gw.stamp()}`);
        this.socket.write(buf);
    }

    _onData(chunk) {
        if (this.gw.log.rx)
            this.gw.out(`RX ${this.cid} ${escapeBytes(chunk)}${this.gw.stamp()}`);
        this.rxText += chunk.toString('latin1');
        let pos;
        while ((pos = this.rxText.indexOf(CR)) >= 0) {
            const line = this.rxText.substr(0, pos).replace(/\n/g, '');
            this.rxText = this.rxText.substr(pos + 1);
            this._handleLine(line);
        }
        if (this.rxText.length > 4096) // no CR in sight: garbage
            this.rxText = '';
    }

    _handleLine(line) {
        const c = line[0];
        switch (c) {
            case undefined:
                this.send(CR);
                return;
            case 'O':
            case 'L':
                if (line.length !== 1 || this.rate === null)
                    return this.send(BEL);
                if (!this.isOpen)
                    this.gw.out(`CHANNEL ${this.cid} open ${this.rate}${c === 'L' ? ' listen' : ''}`);
                this.isOpen = true;
                this.listenOnly = c === 'L';
                return this.send(CR);
            case 'C':
                if (line.length !== 1)
                    return this.send(BEL);
                if (this.isOpen)
                    this.gw.out(`CHANNEL ${this.cid} closed`);
                this.isOpen = false;
                return this.send(CR);
            case 'S':
                if (!/^S[0-8]$/.test(line) || this.isOpen)
                    return this.send(BEL);
                this.rate = RATE_BY_CODE[+line[1]];
                return this.send(CR);
            case 'F':
                if (line.length !== 1)
                    return this.send(BEL);
                this.send('F' + this.status.toString(16).toUpperCase().padStart(2, '0') + CR);
                this.status = 0;
                return;
            case 'V':
                return this.send(line.length === 1 ? 'V1013' + CR : BEL);
            case 'N':
                return this.send(line.length === 1 ? 'NSG' + String(this.cid % 100).padStart(2, '0') + CR : BEL);
            case 'Z':
                if (!/^Z[01]$/.test(line))
                    return this.send(BEL);
                this.stamps = line[1] === '1';
                return this.send(CR);
            case 't':
            case 'T':
            case 'r':
            case 'R': {
                const frame = this.isOpen && !this.listenOnly ? parseFrameLine(line) : null;
                if (!frame)
                    return this.send(BEL);
                if (this.gw.acks)
                    this.send((frame.ext ? 'Z' : 'z') + CR);
                if (!this.gw.bus.transmit(frame, this))
                    this.status |= STATUS_BUS_ERROR | STATUS_ERROR_PASSIVE;
                return;
            }
            default:
                return this.send(BEL);
        }
    }
}

module.exports = { Client };
