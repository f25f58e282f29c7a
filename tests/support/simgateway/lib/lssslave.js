'use strict';
// LSS slave (CiA 305) of one simulated node: requests on 7E5h, responses on
// 7E4h. The stack's own LSS slave is not used: it lacks bit timing, store and
// the selective switch by single frames.
//
// Waiting mode: switch mode global (04h), switch mode selective (40h-43h:
// vendor, product, revision, serial in this order; 44h answers the match),
// identify remote slave (46h-4Bh, answered 4Fh), identify non-configured
// slave (4Ch, answered 50h) and fastscan (51h). Configuration mode adds
// configure node id (11h), configure bit timing (13h), activate bit timing
// (15h), store configuration (17h) and the inquiries (5Ah-5Eh).

const LSS_RX = 0x7E5;
const LSS_TX = 0x7E4;

const WAITING = 0;
const CONFIGURATION = 1;

// Bit timing table 0: index -> bit rate. Index 5 (100 kbit/s) is reserved in
// current CiA 305 but kept by many devices; it is accepted here.
const BIT_TIMING = [1000000, 800000, 500000, 250000, 125000, 100000, 50000, 20000, 10000];

class LssSlave {
    constructor(node) {
        this.node = node;
        this.mode = WAITING;
        this.selectStep = 0;
        this.identifyStep = 0;
        this.fastscanSub = 0;
        this.pendingRate = null;
    }

    get modeName() { return this.mode === CONFIGURATION ? 'configuration' : 'waiting'; }

    powerOn() {
        this.mode = WAITING;
        this.selectStep = 0;
        this.identifyStep = 0;
        this.fastscanSub = 0;
    }

    identity() {
        const o = this.node.opts;
        return [o.vendor, o.product, o.revision, o.serial];
    }

    receive(data) {
        if (data.length !== 8)
            return;
        const cs = data[0];
        const value = data.readUInt32LE(1);
        const ident = this.identity();
        switch (cs) {
            case 0x04:
                if (data[1] === CONFIGURATION)
                    this._enterConfiguration(false);
                else if (data[1] === WAITING)
                    this._enterWaiting();
                this.selectStep = 0;
                return;
            case 0x40: case 0x41: case 0x42: case 0x43: {
                const field = cs - 0x40;
                if (this.node.opts.lssloose) {
                    if (value === ident[field])
                        this._enterConfiguration(true);
                    return;
                }
                if (field === this.selectStep && value === ident[field])
                    ++this.selectStep;
                else
                    this.selectStep = (field === 0 && value === ident[0]) ? 1 : 0;
                if (this.selectStep === 4) {
                    this.selectStep = 0;
                    this._enterConfiguration(true);
                }
                return;
            }
            case 0x46: case 0x47: case 0x48: case 0x49: case 0x4A: case 0x4B:
                this._identify(cs, value, ident);
                return;
            case 0x4C:
                if (this.node.activeId === 0xFF)
                    this._respond([0x50]);
                return;
            case 0x51:
                this._fastscan(data, value, ident);
                return;
        }
        if (this.mode !== CONFIGURATION)
            return;
        switch (cs) {
            case 0x11: {
                const id = data[1];
                const ok = (id >= 1 && id <= 127) || id === 0xFF;
                if (ok) {
                    this.node.pendingId = id;
                    this.node.event(`LSS ${this.node.handle} nodeid ${id}`);
                }
                this._respond([0x11, ok ? 0 : 1, 0]);
                return;
            }
            case 0x13: {
                // Table 0 only, and only the rates the node supports
                // (lssrates: one bit per table index).
                const ok = data[1] === 0 && data[2] < BIT_TIMING.length
                    && ((this.node.opts.lssrates >>> data[2]) & 1) === 1;
                if (ok) {
                    this.pendingRate = BIT_TIMING[data[2]];
                    this.node.event(`LSS ${this.node.handle} bittiming ${this.pendingRate}`);
                }
                this._respond([0x13, ok ? 0 : 1, 0]);
                return;
            }
            case 0x15:
                if (this.pendingRate !== null)
                    this.node.event(`LSS ${this.node.handle} activate ${this.pendingRate} ${data.readUInt16LE(1)}`);
                return;
            case 0x17: {
                const ok = !!this.node.opts.lssstore;
                if (ok) {
                    this.node.storedId = this.node.pendingId;
                    if (this.pendingRate !== null)
                        this.node.storedRate = this.pendingRate;
                    this.node.event(`LSS ${this.node.handle} store ${this.node.storedId} ${this.node.storedRate || '-'}`);
                }
                this._respond([0x17, ok ? 0 : 1, 0]);
                return;
            }
            case 0x5A: case 0x5B: case 0x5C: case 0x5D: {
                const r = Buffer.alloc(5);
                r[0] = cs;
                r.writeUInt32LE(ident[cs - 0x5A] >>> 0, 1);
                this._respond([...r]);
                return;
            }
            case 0x5E:
                this._respond([0x5E, this.node.activeId]);
                return;
        }
    }

    _enterConfiguration(answer) {
        if (this.mode !== CONFIGURATION)
            this.node.event(`LSS ${this.node.handle} mode configuration`);
        this.mode = CONFIGURATION;
        if (answer)
            this._respond([0x44]);
    }

    _enterWaiting() {
        if (this.mode === CONFIGURATION)
            this.node.event(`LSS ${this.node.handle} mode waiting`);
        this.mode = WAITING;
        // A node without a node id takes the one just configured at once.
        if (this.node.activeId === 0xFF && this.node.pendingId >= 1 && this.node.pendingId <= 127)
            this.node.resetCommunication();
    }

    // Identify remote slave: vendor and product must match, revision and
    // serial lie within [low, high]; the serial-high request closes it.
    _identify(cs, value, ident) {
        switch (cs) {
            case 0x46: this.identifyStep = value === ident[0] ? 1 : 0; return;
            case 0x47: this.identifyStep = (this.identifyStep === 1 && value === ident[1]) ? 2 : 0; return;
            case 0x48: this.identifyStep = (this.identifyStep === 2 && ident[2] >= value) ? 3 : 0; return;
            case 0x49: this.identifyStep = (this.identifyStep === 3 && ident[2] <= value) ? 4 : 0; return;
            case 0x4A: this.identifyStep = (this.identifyStep === 4 && ident[3] >= value) ? 5 : 0; return;
            case 0x4B:
                if (this.identifyStep === 5 && ident[3] <= value)
                    this._respond([0x4F]);
                this.identifyStep = 0;
                return;
        }
    }

    // Fastscan, answered only by nodes without a node id in waiting mode.
    _fastscan(data, value, ident) {
        if (this.mode !== WAITING || this.node.activeId !== 0xFF)
            return;
        const bitChecked = data[5];
        const sub = data[6];
        const next = data[7];
        if (bitChecked === 0x80) {
            this.fastscanSub = 0;
            this._respond([0x4F]);
            return;
        }
        if (bitChecked > 31 || sub > 3 || next > 3 || sub !== this.fastscanSub)
            return;
        const mask = bitChecked === 0 ? 0xFFFFFFFF : (0xFFFFFFFF << bitChecked) >>> 0;
        if (((value ^ ident[sub]) & mask) >>> 0 !== 0)
            return;
        this._respond([0x4F]);
        if (bitChecked === 0) {
            this.fastscanSub = next;
            if (next < sub) // wrapped round: the whole address matched
                this._enterConfiguration(false);
        }
    }

    _respond(bytes) {
        const data = Buffer.alloc(8);
        Buffer.from(bytes).copy(data);
        this.node.send(LSS_TX, data);
    }
}

module.exports = { LssSlave, LSS_RX, LSS_TX };
