'use strict';
// A simulated CANopen node on the bus: the object dictionary, SDO server
// (expedited, segmented, block upload), NMT slave, heartbeat and PDOs come
// from the independent npm stack 'canopen'; the fixture adds what the stack
// lacks or gets wrong: the boot-up message, NMT resets that keep what a real
// device keeps, the block download server with a chosen block size
// (sdoblock.js), the LSS slave (lssslave.js), a few corrections of the SDO
// server (below) and switches for tests (a node that does not answer SDO,
// answers late, and so on).

const { Device, Eds, DataType, ObjectType } = require('canopen');
const { SdoServer } = require('canopen/source/protocol/sdo_server');
const { LssSlave, LSS_RX } = require('./lssslave');
const { BlockDownload } = require('./sdoblock');
const Drive = require('./cia402drive');
const SdoAbort = require('./sdoabort');
const { unescapeText } = require('./escape');

// The stack ends a segmented upload one segment late: the segment with the
// last data bytes goes out without the "last" bit and an empty segment
// follows. A real server marks the segment that holds the last byte.
SdoServer.prototype._uploadSegment = function (client, data) {
    if ((data[0] & 0x10) !== (client.toggle << 4)) {
        this._abortTransfer(client, 0x05030000);
        return;
    }
    const sendBuffer = Buffer.alloc(8);
    const count = Math.min(7, client.data.length - client.size);
    client.data.copy(sendBuffer, 1, client.size, client.size + count);
    let header = (client.toggle << 4) | ((7 - count) << 1);
    client.size += count;
    client.toggle ^= 1;
    if (client.size >= client.data.length) {
        header |= 1;
        client.resolve();
    } else {
        client.refresh();
    }
    sendBuffer[0] = header;
    this.send(client.cobId, sendBuffer);
};

// Device name in 1008h: longer than one segment and with Latin-1 bytes
// above 7Fh (Ä Ö Ü é µ ° ²) and the byte 80h itself.
const DEFAULT_NAME = 'Sim Drive \\xc4\\xd6\\xdc-\\xe9 \\xb5m/s\\xb2 25\\xb0C \\x80';

const OPTION_DEFAULTS = {
    devicetype: 0x00020192,
    vendor: 0x00112233,
    product: 0x00004711,
    revision: 0x00010002,
    heartbeat: 0,
    blksize: 127,
    block: 1,
    crc: 'on',
    silent: 0,
    sdodelay: 0,
    boot: 1,
    tpdo: -1,
    lssloose: 0,
    lssstore: 1,
    lssrates: 0x1FF,
    sdotimeout: 1000,
    wave: 0,
    minimal: 0,
    extra: 0,
    block: 1,
    ...Drive.DEFAULTS,
};

const NUMERIC_OPTIONS = ['id', 'devicetype', 'vendor', 'product', 'revision', 'serial', 'heartbeat',
    'blksize', 'block', 'silent', 'sdodelay', 'boot', 'tpdo', 'lssloose', 'lssstore', 'lssrates', 'sdotimeout', 'wave', 'minimal',
    'extra', ...Drive.OPTIONS];

function parseNumber(text) {
    let t = String(text).trim().toLowerCase();
    let v;
    if (t === 'off')
        v = -1;
    else if (t.startsWith('0x'))
        v = parseInt(t.substr(2), 16);
    else if (t.endsWith('h'))
        v = parseInt(t.slice(0, -1), 16);
    else if (/^-?\d+$/.test(t))
        v = parseInt(t, 10);
    if (v === undefined || Number.isNaN(v))
        throw new Error(`not a number: ${text}`);
    return v;
}

// Options from "key=value" words; unknown keys and bad values throw.
function parseOptions(words, into) {
    for (const w of words) {
        const eq = w.indexOf('=');
        if (eq <= 0)
            throw new Error(`expected key=value: ${w}`);
        const key = w.substr(0, eq).toLowerCase();
        const value = w.substr(eq + 1);
        if (key === 'name')
            into.name = value;
        else if (key === 'crc') {
            if (!['mirror', 'on', 'off'].includes(value))
                throw new Error('crc must be mirror, on or off');
            into.crc = value;
        } else if (NUMERIC_OPTIONS.includes(key))
            into[key] = parseNumber(value);
        else
            throw new Error(`unknown node option: ${key}`);
    }
    if (into.blksize !== undefined && (into.blksize < 1 || into.blksize > 127))
        throw new Error('blksize must be 1..127');
    if (into.id !== undefined && !((into.id >= 1 && into.id <= 127) || into.id === 255))
        throw new Error('id must be 1..127 or 255');
    return into;
}

const VARIABLE_SIZE = [DataType.VISIBLE_STRING, DataType.OCTET_STRING, DataType.UNICODE_STRING, DataType.DOMAIN];

class SimNode {
    constructor(gateway, handle, words) {
        this.gw = gateway;
        this.handle = handle;
        this.kind = 'node';
        this.name = 'n' + handle;
        this.opts = Object.assign({}, OPTION_DEFAULTS, { id: handle, serial: 0x10000000 + handle, name: DEFAULT_NAME });
        parseOptions(words, this.opts);
        // Drives answer a block initiate with the CRC bit set, as common
        // drive stacks do, unless told otherwise.
        if (this.opts.drive && !words.some((w) => w.toLowerCase().startsWith('crc=')))
            this.opts.crc = 'on';
        this.storedId = null;
        this.storedRate = null;
        this.activeId = this.opts.id;
        this.pendingId = this.opts.id;
        this.device = null;
        this.lss = new LssSlave(this);
        this.block = new BlockDownload(this);
        this.timers = new Set();
    }

    onBus() { return true; }

    // Power on: node id from the stored LSS configuration or the option,
    // a fresh object dictionary (domains are kept, as in flash memory).
    powerOn(sendBootUp = true) {
        this.lss.powerOn();
        this.activeId = this.storedId !== null ? this.storedId : this.opts.id;
        this.pendingId = this.activeId;
        this._restart(isNonVolatile, sendBootUp);
        this._startMotion();
    }

    // A drive that moves by itself (option wave=<period ms>): every 50 ms
    // the target velocity 60FFh follows a sine of +-1000 with that period
    // and the actual position 6064h integrates it, so that sampled values
    // change without anyone writing to the node.
    _startMotion() {
        if (this.motion || !(this.opts.wave > 0))
            return;
        let position = 0;
        this.motion = setInterval(() => {
            const eds = this.device && this.device.eds;
            if (!eds || !eds.getEntry(0x60FF) || !eds.getEntry(0x6064))
                return;
            const velocity = Math.round(1000 * Math.sin(2 * Math.PI * Date.now() / this.opts.wave));
            position += velocity * 0.05;
            eds.getEntry(0x60FF).value = velocity;
            eds.getEntry(0x6064).value = Math.round(position);
        }, 50);
        this.timers.add(this.motion);
    }

    resetNode() {
        this.activeId = this.pendingId;
        this._restart(isNonVolatile, true);
    }

    resetCommunication() {
        this.activeId = this.pendingId;
        this._restart((index) => !isCommunication(index) || isNonVolatile(index), true);
    }

    shutdown() {
        if (this.drive)
            this.drive.stop();
        this._stopDevice();
        this.block.reset();
        for (const t of this.timers)
            clearTimeout(t);
        this.timers.clear();
        this.motion = null;
    }

    set(words) {
        const changed = parseOptions(words, {});
        Object.assign(this.opts, changed);
        const eds = this.device && this.device.eds;
        if (!eds)
            return;
        if (changed.heartbeat !== undefined)
            eds.getEntry(0x1017).value = Math.max(0, changed.heartbeat);
        if (changed.devicetype !== undefined)
            eds.getEntry(0x1000).value = changed.devicetype;
        if (changed.name !== undefined && eds.getEntry(0x1008))
            eds.getEntry(0x1008).raw = unescapeText(changed.name);
        const idn = eds.getEntry(0x1018);
        ['vendor', 'product', 'revision', 'serial'].forEach((k, i) => {
            if (changed[k] !== undefined && idn.at(i + 1))
                idn.at(i + 1).value = changed[k] >>> 0;
        });
    }

    // -- bus side ---------------------------------------------------------

    deliver(frame) {
        if (frame.ext || frame.rtr)
            return;
        const { id, data } = frame;
        if (id === LSS_RX) {
            this.lss.receive(data);
            return;
        }
        if (!this.device)
            return;
        if (id === 0) {
            if (data.length >= 2 && (data[1] === 0 || data[1] === this.activeId)) {
                if (data[0] === 0x81)
                    return this.resetNode();
                if (data[0] === 0x82)
                    return this.resetCommunication();
            }
            this.device.receive({ id, data });
            return;
        }
        if (id === 0x600 + this.activeId) {
            this._sdoRequest(data);
            return;
        }
        this.device.receive({ id, data });
    }

    send(id, data) {
        this.gw.bus.transmit({ id, ext: false, rtr: false, dlc: data.length, data }, this);
    }

    emergency(bytes) {
        if (!this.device)
            throw new Error('node has no node id');
        const cobId = (this.device.eds.getEmcyCobId() || (0x80 + this.activeId)) & 0x7FF;
        this.send(cobId, bytes);
    }

    event(line) { this.gw.out(line); }

    // -- SDO --------------------------------------------------------------

    // The object addressed by index and subindex, or the abort code.
    lookup(index, sub) {
        const entry = this.device.eds.getEntry(index);
        if (!entry)
            return { code: SdoAbort.OBJECT_UNDEFINED };
        if (entry.subNumber > 0) {
            const s = entry.at(sub);
            return s ? { entry: s } : { code: SdoAbort.BAD_SUB_INDEX };
        }
        if (sub !== 0)
            return { code: SdoAbort.BAD_SUB_INDEX };
        return { entry };
    }

    writeEntry(entry, raw) {
        if (!VARIABLE_SIZE.includes(entry.dataType) && raw.length !== entry.raw.length)
            return SdoAbort.BAD_LENGTH;
        entry.raw = raw;
        return 0;
    }

    sdoRespond(bytes) {
        this._sdoSend(Buffer.from(bytes));
    }

    sdoAbort(index, sub, code) {
        const data = Buffer.alloc(8);
        data[0] = 0x80;
        data.writeUInt16LE(index, 1);
        data[3] = sub;
        data.writeUInt32LE(code >>> 0, 4);
        this._sdoSend(data);
    }

    _sdoSend(data) {
        if (data[0] === 0x80)
            this.event(`ABORT ${this.handle} ${hex(data.readUInt16LE(1), 4)}:${hex(data[3], 2)} ${hex(data.readUInt32LE(4), 8)}`);
        const id = 0x580 + this.activeId;
        if (this.opts.sdodelay > 0) {
            const t = setTimeout(() => {
                this.timers.delete(t);
                this.send(id, data);
            }, this.opts.sdodelay);
            this.timers.add(t);
        } else {
            this.send(id, data);
        }
    }

    _sdoRequest(data) {
        const server = this.device.sdoServer;
        if (this.opts.silent || !server.started || data.length !== 8)
            return;
        if ((this.block.active || (data[0] & 0xE0) === 0xC0) && this.block.handle(data))
            return;
        const index = data.readUInt16LE(1);
        const sub = data[3];
        const transfer = server.transfers[0x600 + this.activeId];
        switch (data[0] >> 5) {
            case 0: // download segment
            case 3: // upload segment
                if (!transfer || !transfer.active)
                    return this.sdoAbort(transfer ? transfer.index || 0 : 0, transfer ? transfer.subIndex || 0 : 0, SdoAbort.BAD_COMMAND);
                break;
            case 1: { // initiate download
                if (this._plainWithSub(index, sub)) // the stack ignores the subindex of plain objects
                    return this.sdoAbort(index, sub, SdoAbort.BAD_SUB_INDEX);
                const entry = this.lookup(index, sub).entry;
                if (entry && (data[0] & 0x02) && !VARIABLE_SIZE.includes(entry.dataType)
                    && entry.accessType !== 'ro' && entry.accessType !== 'const') {
                    const size = entry.raw.length;
                    if (data[0] & 0x01) {
                        if (4 - ((data[0] >> 2) & 3) !== size)
                            return this.sdoAbort(index, sub, SdoAbort.BAD_LENGTH);
                    } else {
                        // Size not indicated: the object's own size counts.
                        if (size > 4)
                            return this.sdoAbort(index, sub, SdoAbort.BAD_LENGTH);
                        data = Buffer.from(data);
                        data[0] = (data[0] & 0xF0) | ((4 - size) << 2) | 0x03;
                    }
                }
                break;
            }
            case 2: { // initiate upload
                if (this._plainWithSub(index, sub))
                    return this.sdoAbort(index, sub, SdoAbort.BAD_SUB_INDEX);
                const entry = this.lookup(index, sub).entry;
                if (entry && entry.accessType !== 'wo' && entry.raw.length === 0)
                    return this.sdoAbort(index, sub, SdoAbort.NO_DATA);
                break;
            }
        }
        try {
            this.device.receive({ id: 0x600 + this.activeId, data });
        } catch (e) {
            process.stderr.write(`simgateway: node ${this.handle}: ${e.stack}\n`);
            this.sdoAbort(index, sub, SdoAbort.GENERAL_ERROR);
        }
    }

    _plainWithSub(index, sub) {
        const top = this.device.eds.getEntry(index);
        return sub !== 0 && top !== undefined && !(top.subNumber > 0);
    }

    // -- life cycle -------------------------------------------------------

    _stopDevice() {
        if (!this.device)
            return;
        const d = this.device;
        this.device = null;
        d.removeAllListeners('message');
        d.nmt.removeAllListeners('changeState');
        d.stop();
    }

    // Rebuilds the node with the current node id, keeping the values of the
    // objects for which keep(index) holds, and starts it (boot-up first).
    _restart(keep, sendBootUp) {
        const kept = new Map();
        if (this.device) {
            for (const [key, entry] of this.device.eds.entries()) {
                const index = parseInt(key, 16);
                if (index < 0x1000 || !keep(index)) // below 1000h: data type definitions
                    continue;
                if (entry.subNumber > 0) {
                    for (let s = 0; s <= 255; ++s)
                        if (entry.at(s))
                            kept.set(`${index}:${s}`, entry.at(s).raw);
                } else {
                    kept.set(`${index}:0`, entry.raw);
                }
            }
        }
        this._stopDevice();
        this.block.reset();
        if (this.activeId === 0xFF) { // no node id: only LSS is served
            this.event(`NODE ${this.handle} unconfigured`);
            return;
        }
        const eds = buildDictionary(this.opts, this.activeId);
        if (this.opts.drive)
            Drive.addObjects(eds, this.opts);
        for (const [k, raw] of kept) {
            const [index, sub] = k.split(':').map(Number);
            const entry = eds.getEntry(index);
            if (!entry)
                continue;
            const target = entry.subNumber > 0 ? entry.at(sub) : entry;
            if (target)
                target._raw = raw;
        }
        const device = new Device({ eds, id: this.activeId, enableLss: false });
        device.on('message', ({ id, data }) => {
            if (id === 0x580 + this.activeId)
                this._sdoSend(data);
            else
                this.send(id, data);
        });
        this.device = device;
        if (sendBootUp)
            this.send(0x700 + this.activeId, Buffer.from([0]));
        device.start();
        if (this.opts.drive)
            (this.drive = this.drive || new Drive.Cia402Drive(this)).bind(device, keep(0x6040));
        device.nmt.on('changeState', (state) => this.event(`NMTSTATE ${this.handle} ${state}`));
        this.event(`NMTSTATE ${this.handle} ${device.state}`);
    }
}

function isCommunication(index) { return index >= 0x1000 && index <= 0x1FFF; }
function isNonVolatile(index) { return index === 0x1F50 || index === 0x2F50; }

function hex(v, n) { return (v >>> 0).toString(16).padStart(n, '0'); }

// The object dictionary of a simulated node (see README.md for the table).
function buildDictionary(opts, id) {
    const eds = new Eds();
    const add = (index, name, dataType, accessType, defaultValue) =>
        eds.addEntry(index, { parameterName: name, dataType, accessType, defaultValue });
    const record = (index, name) =>
        eds.addEntry(index, { parameterName: name, objectType: ObjectType.RECORD });

    eds.getEntry(0x1000).value = opts.devicetype >>> 0;
    const name = add(0x1008, 'Manufacturer device name', DataType.VISIBLE_STRING, 'const');
    name.raw = unescapeText(opts.name);
    add(0x1009, 'Manufacturer hardware version', DataType.VISIBLE_STRING, 'const', 'HW 1.0');
    add(0x100A, 'Manufacturer software version', DataType.VISIBLE_STRING, 'const', 'SW 2.3.4');
    for (const [index, label] of [[0x1010, 'Store parameters'], [0x1011, 'Restore default parameters']]) {
        const r = record(index, label);
        r.addSubObject(1, { parameterName: 'All parameters', dataType: DataType.UNSIGNED32, accessType: 'rw', defaultValue: 1 });
    }
    eds.setEmcyCobId(0x80 + id);
    add(0x1017, 'Producer heartbeat time', DataType.UNSIGNED16, 'rw', Math.max(0, opts.heartbeat));
    eds.setIdentity({
        vendorId: opts.vendor >>> 0,
        productCode: opts.product >>> 0,
        revisionNumber: opts.revision >>> 0,
        serialNumber: opts.serial >>> 0,
    });
    eds.addSdoServerParameter(0, 0x580 + id, 0x600 + id);
    if (opts.minimal) {
        // Only what CiA 301 asks of every device: no name, no versions, and
        // of the identity only the vendor id.
        for (const index of [0x1008, 0x1009, 0x100A])
            eds.removeEntry(index);
        for (const sub of [2, 3, 4])
            eds.removeSubEntry(0x1018, sub);
    }

    const program = record(0x1F50, 'Program data');
    program.addSubObject(1, { parameterName: 'Program number 1', dataType: DataType.DOMAIN, accessType: 'rw' }).raw = Buffer.alloc(0);
    const control = record(0x1F51, 'Program control');
    control.addSubObject(1, { parameterName: 'Program number 1', dataType: DataType.UNSIGNED8, accessType: 'rw', defaultValue: 0 });

    add(0x2000, 'Test unsigned8', DataType.UNSIGNED8, 'rw', 0x12);
    add(0x2001, 'Test unsigned16', DataType.UNSIGNED16, 'rw', 0x1234);
    add(0x2002, 'Test unsigned32', DataType.UNSIGNED32, 'rw', 0x12345678);
    add(0x2003, 'Test integer8', DataType.INTEGER8, 'rw', -2);
    add(0x2004, 'Test integer16', DataType.INTEGER16, 'rw', -300);
    add(0x2005, 'Test integer32', DataType.INTEGER32, 'rw', -100000);
    add(0x2006, 'Test visible string', DataType.VISIBLE_STRING, 'rw', 'hello');
    add(0x2007, 'Test read-only unsigned32', DataType.UNSIGNED32, 'ro', 0xCAFE0001);
    add(0x2008, 'Test write-only unsigned32', DataType.UNSIGNED32, 'wo', 0);
    eds.addEntry(0x2009, { parameterName: 'Test limited unsigned16', dataType: DataType.UNSIGNED16, accessType: 'rw', defaultValue: 500, lowLimit: 10, highLimit: 1000 });
    const rec = record(0x2010, 'Test record');
    rec.addSubObject(1, { parameterName: 'First', dataType: DataType.UNSIGNED32, accessType: 'rw', defaultValue: 0x11111111 });
    rec.addSubObject(2, { parameterName: 'Second', dataType: DataType.UNSIGNED32, accessType: 'rw', defaultValue: 0x22222222 });
    const scripts = record(0x2F50, 'Drive script data');
    scripts.addSubObject(1, { parameterName: 'Script 1', dataType: DataType.DOMAIN, accessType: 'rw' }).raw = Buffer.alloc(0);
    scripts.addSubObject(2, { parameterName: 'Script 2', dataType: DataType.DOMAIN, accessType: 'rw' }).raw = Buffer.alloc(0);

    add(0x6040, 'Controlword', DataType.UNSIGNED16, 'rw', 0);
    add(0x6041, 'Statusword', DataType.UNSIGNED16, 'ro', 0x0250);
    add(0x6060, 'Modes of operation', DataType.INTEGER8, 'rw', 0);
    add(0x6061, 'Modes of operation display', DataType.INTEGER8, 'ro', 0);
    add(0x6064, 'Position actual value', DataType.INTEGER32, 'ro', 0);
    add(0x60FF, 'Target velocity', DataType.INTEGER32, 'rw', 0);
    // Large tables: extra=n adds n UNSIGNED32 objects from 3000h on, each
    // holding its own index.
    for (let i = 0; i < Math.min(opts.extra, 0x1000); ++i)
        add(0x3000 + i, `Extra ${i}`, DataType.UNSIGNED32, 'rw', 0x3000 + i);

    if (opts.tpdo >= 0) {
        eds.addTransmitPdo({
            cobId: 0x180 + id,
            transmissionType: 254,
            eventTime: opts.tpdo,
            dataObjects: [eds.getEntry(0x6064), eds.getEntry(0x60FF)],
        });
    }
    return eds;
}

module.exports = { SimNode, parseOptions, parseNumber };
