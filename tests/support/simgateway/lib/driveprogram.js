'use strict';
// What a drive's boot loader and its USB adapter do behind their objects, so
// that a master that replaces the drive's firmware or script meets the
// answers a real drive gives:
//
//  - Program control 1F51h.1 (CiA 302): 128 stops the application and
//    enters the boot loader, where the device type (1000h) reads 10000000h;
//    3 clears the program (1F50h.1 empties); 131 verifies and stores the
//    program just received; 1 starts the application: the drive answers,
//    then restarts (boot-up message) with its own device type. Clearing,
//    verifying and downloading program data outside the boot loader are
//    refused with 08000022h, as is a verify without a program.
//  - Program data 1F50h.1 (domain): the boot loader appends every write to
//    the program (a firmware file arrives as a sequence of records, each
//    its own transfer) and reports the program so far; 1F56h.1 (program
//    software identification) is its CRC-32.
//  - Drive scripts: "FPRG" written to 2F50h.1 starts a new image, every
//    write to 2F50h.2 (the image comes in small chunks, each its own
//    transfer) is appended, and "FEND" ends it: the image is reported.
//  - 3500h.3: written before node parameter changes; kept, no effect.
//  - SD-card update of the USB adapter, 3403h.6 (write 1: take the update
//    file) and 3403h.7 (status: 0 idle, 1 update running, 2 complete): after
//    the write, `sdpolls=` reads of 3403h.7 (default 3) give 1, later reads
//    2; with sdpolls=0 the status stays 0 (no card, no file).
//
// Event lines: `DOMAIN <h> <index>:<sub> <bytes> <sha1> <first bytes hex>`
// for each write, `PROGRAM <h> <bytes> <sha1>` for the program so far,
// `SCRIPT <h> <bytes> <sha1> <first bytes hex>` for an image ended by FEND,
// `PROGCTL <h> <value>`.

const crypto = require('crypto');
const { DataType, ObjectType } = require('canopen');

const OPTIONS = ['sdpolls'];
const DEFAULTS = { sdpolls: 3 };

const BOOT_LOADER_DEVICE_TYPE = 0x10000000;
const DEVICE_STATE = 0x08000022;

function crc32(buffer) {
    let crc = 0xFFFFFFFF;
    for (const byte of buffer) {
        crc ^= byte;
        for (let k = 0; k < 8; ++k)
            crc = (crc >>> 1) ^ (0xEDB88320 & -(crc & 1));
    }
    return (crc ^ 0xFFFFFFFF) >>> 0;
}

function addObjects(eds) {
    const ident = eds.addEntry(0x1F56, { parameterName: 'Program software identification', objectType: ObjectType.RECORD });
    ident.addSubObject(1, { parameterName: 'Program number 1', dataType: DataType.UNSIGNED32, accessType: 'ro', defaultValue: 0 });
    const sd = eds.addEntry(0x3403, { parameterName: 'Adapter SD card', objectType: ObjectType.RECORD });
    sd.addSubObject(6, { parameterName: 'Take update file', dataType: DataType.UNSIGNED8, accessType: 'rw', defaultValue: 0 });
    sd.addSubObject(7, { parameterName: 'Update status', dataType: DataType.UNSIGNED8, accessType: 'ro', defaultValue: 0 });
}

class DriveProgram {
    constructor(node) {
        this.node = node;
        this.bootLoader = false;
        this.verified = false;
        this.sdPolls = -1;        // status reads left with "running"; -1: no update
        this.sdStatus = 0;
        this.program = Buffer.alloc(0);   // kept like flash memory
        this.script = null;               // the image between FPRG and FEND
    }

    // After every restart of the node's dictionary.
    bind() {
        this.entry(0x1000).value = this.bootLoader ? BOOT_LOADER_DEVICE_TYPE : this.node.opts.devicetype >>> 0;
        this.entry(0x1F56, 1).value = crc32(this.program);
        this.entry(0x3403, 7).value = this.sdStatus;
        for (const index of [0x1F50, 0x2F50]) {
            this.entry(index).on('update', (sub) => this.domainWritten(index, sub));
        }
    }

    entry(index, sub) {
        const e = this.node.device.eds.getEntry(index);
        return sub === undefined ? e : e.at(sub);
    }

    domainWritten(index, sub) {
        const raw = sub.raw;
        const subIndex = [1, 2].find((s) => this.entry(index, s) === sub);
        const sha = crypto.createHash('sha1').update(raw).digest('hex');
        this.node.event(`DOMAIN ${this.node.handle} ${index.toString(16)}:${subIndex} ${raw.length} ${sha} ${raw.subarray(0, 16).toString('hex')}`);
        if (index === 0x2F50 && subIndex === 1 && raw.length === 4) {
            const word = raw.toString('latin1');
            if (word === 'FPRG') {
                this.script = Buffer.alloc(0);
            } else if (word === 'FEND' && this.script) {
                const sha1 = crypto.createHash('sha1').update(this.script).digest('hex');
                this.node.event(`SCRIPT ${this.node.handle} ${this.script.length} ${sha1} ${this.script.subarray(0, 16).toString('hex')}`);
                this.script = null;
            }
            sub._raw = Buffer.alloc(0);
        }
        if (index === 0x2F50 && subIndex === 2) {
            if (this.script)
                this.script = Buffer.concat([this.script, raw]);
            sub._raw = Buffer.alloc(0);
        }
        if (index === 0x1F50) {
            this.verified = false;
            this.program = Buffer.concat([this.program, raw]);
            // Emptied again, so that the next record is seen even when it
            // repeats this one.
            sub._raw = Buffer.alloc(0);
            this.entry(0x1F56, 1).value = crc32(this.program);
            const total = crypto.createHash('sha1').update(this.program).digest('hex');
            this.node.event(`PROGRAM ${this.node.handle} ${this.program.length} ${total}`);
        }
    }

    // An SDO request before the server sees it: an abort code to refuse it,
    // or 0 (then after() runs once it was served).
    check(data) {
        const command = data[0] >> 5;
        const index = data.readUInt16LE(1);
        const sub = data[3];
        if ((command === 1 || command === 6) && index === 0x1F50 && !this.bootLoader)
            return DEVICE_STATE;
        if (command === 1 && (data[0] & 0x02) && index === 0x1F51 && sub === 1) {
            const value = data[4];
            if ((value === 3 || value === 131) && !this.bootLoader)
                return DEVICE_STATE;
            if (value === 131 && this.program.length === 0)
                return DEVICE_STATE;
        }
        if (command === 2 && index === 0x3403 && sub === 7)
            this.pollSdCard();
        return 0;
    }

    after(data) {
        const command = data[0] >> 5;
        const index = data.readUInt16LE(1);
        const sub = data[3];
        if (command !== 1 || !(data[0] & 0x02))
            return;
        if (index === 0x3403 && sub === 6 && data[4] === 1) {
            this.sdPolls = this.node.opts.sdpolls > 0 ? this.node.opts.sdpolls : -1;
            this.sdStatus = this.node.opts.sdpolls > 0 ? 1 : 0;
            this.entry(0x3403, 7).value = this.sdStatus;
            return;
        }
        if (index !== 0x1F51 || sub !== 1)
            return;
        const value = data[4];
        this.node.event(`PROGCTL ${this.node.handle} ${value}`);
        switch (value) {
            case 128:
                this.bootLoader = true;
                this.entry(0x1000).value = BOOT_LOADER_DEVICE_TYPE;
                break;
            case 3:
                this.program = Buffer.alloc(0);
                this.entry(0x1F56, 1).value = crc32(this.program);
                break;
            case 131:
                this.verified = true;
                break;
            case 1: {
                // The answer goes out first; then the drive restarts into
                // its application.
                this.bootLoader = false;
                const t = setTimeout(() => {
                    this.node.timers.delete(t);
                    this.node.resetNode();
                }, 20);
                this.node.timers.add(t);
                break;
            }
            default:
                break;
        }
    }

    pollSdCard() {
        if (this.sdPolls > 0) {
            --this.sdPolls;
        } else if (this.sdPolls === 0) {
            this.sdStatus = 2;
            this.sdPolls = -1;
        }
        this.entry(0x3403, 7).value = this.sdStatus;
    }

    describe() {
        return `bootloader=${this.bootLoader ? 1 : 0} program=${this.program.length} verified=${this.verified ? 1 : 0}`
            + ` sdstatus=${this.sdStatus}`;
    }
}

module.exports = { DriveProgram, addObjects, OPTIONS, DEFAULTS };
