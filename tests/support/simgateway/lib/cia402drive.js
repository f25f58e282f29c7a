'use strict';
// A CiA 402 positioning drive on top of a simulated node's object
// dictionary: what a servo drive does behind its objects, so that a master
// that starts, moves and homes it meets the answers a real drive gives.
//
//  - The statusword (6041h) follows the controlword (6040h) through the
//    device state machine (switch on disabled, ready to switch on, switched
//    on, operation enabled, quick stop active, fault reaction, fault);
//    commands are decoded from the controlword's level, fault reset and new
//    set-point from their rising edges.
//  - The operation mode is taken from 6060h (displayed in 6061h); a mode the
//    drive does not support (6502h) is refused with SDO abort 06090030h.
//  - Profile velocity (3): the actual velocity (606Ch, rpm) ramps to the
//    target velocity (60FFh) with 6083h / 6084h (rpm/s); bit 10 when it is
//    reached, bit 12 while the motor stands.
//  - Profile position (1): a new set-point (rising bit 4) takes 607Ah; bit
//    12 acknowledges it until bit 4 falls again; the motor runs a
//    trapezoidal profile with 6081h, 6083h and 6084h; bit 10 once the
//    target is reached. Without bit 5 ("change set immediately") a set-point
//    that comes while a move runs waits in a one-deep buffer. Halt (bit 8)
//    brakes to a stand-still.
//  - Homing (6): rising bit 4 starts the method of 6098h (0 to 35 and 37;
//    0 is no method and ends in a homing error, bit 13); 35 and 37 take
//    the current position as home, the other methods run to the home switch
//    (at mechanical zero) with 6099h.1, then creep with 6099h.2. At home the
//    position becomes the home offset (607Ch); bit 12 homing attained, bit
//    10 target reached. Profile and homing speeds above 607Fh are refused
//    (06090031h).
//  - Positions (6063h, 6064h) are in encoder increments; 608Fh.1 increments
//    make 608Fh.2 motor revolutions. Velocities are rpm.
//  - A fault (injected with "DRIVE <h> FAULT [code]") runs the fault
//    reaction (braking), sets 603Fh and the error register and sends an
//    emergency; a fault reset clears it and sends the "error reset"
//    emergency.
//
// Node options: drive=1 (makes the node a drive), encoder= (608Fh.1, 4096),
// revolutions= (608Fh.2, 1), maxspeed= (607Fh, rpm, 6000), modes= (6502h
// bits: 0 profile position, 2 profile velocity, 5 homing; 0x25),
// scripting=0 (a standard drive without the drive-script objects 3500h:
// their reads and writes abort 06020000h, as for every missing object).

const { DataType, ObjectType } = require('canopen');
const Program = require('./driveprogram');

const OPTIONS = ['drive', 'encoder', 'revolutions', 'maxspeed', 'modes', 'scripting', ...Program.OPTIONS];
const DEFAULTS = { drive: 0, encoder: 4096, revolutions: 1, maxspeed: 6000, modes: 0x25, scripting: 1, ...Program.DEFAULTS };

const VALUE_RANGE_EXCEEDED = 0x06090030;
const VALUE_TOO_HIGH = 0x06090031;

const TICK_MS = 10;

// Device states and the statusword bits (0-3, 5, 6) that show them.
const State = {
    SWITCH_ON_DISABLED: 'switch on disabled',
    READY_TO_SWITCH_ON: 'ready to switch on',
    SWITCHED_ON: 'switched on',
    OPERATION_ENABLED: 'operation enabled',
    QUICK_STOP_ACTIVE: 'quick stop active',
    FAULT_REACTION_ACTIVE: 'fault reaction active',
    FAULT: 'fault',
};
const STATE_BITS = {
    [State.SWITCH_ON_DISABLED]: 0x40,
    [State.READY_TO_SWITCH_ON]: 0x21,
    [State.SWITCHED_ON]: 0x23,
    [State.OPERATION_ENABLED]: 0x27,
    [State.QUICK_STOP_ACTIVE]: 0x07,
    [State.FAULT_REACTION_ACTIVE]: 0x0F,
    [State.FAULT]: 0x08,
};
const VOLTAGE_ENABLED = 0x0010;
const REMOTE = 0x0200;
const TARGET_REACHED = 0x0400;
const MODE_BIT_12 = 0x1000;
const HOMING_ERROR = 0x2000;

const Mode = { NONE: 0, PROFILE_POSITION: 1, PROFILE_VELOCITY: 3, HOMING: 6 };
// Bit of each mode in 6502h.
const MODE_SUPPORT_BIT = { 1: 0x01, 3: 0x04, 6: 0x20 };

// The device command a controlword gives (bits 0-3 and 7 matter).
function commandOf(cw) {
    if ((cw & 0x02) === 0)
        return 'disable voltage';
    if ((cw & 0x04) === 0)
        return 'quick stop';
    if ((cw & 0x01) === 0)
        return 'shutdown';
    if ((cw & 0x08) === 0)
        return 'switch on';
    return 'enable operation';
}

// The objects a drive adds to a node's dictionary (buildDictionary has
// 6040h, 6041h, 6060h, 6061h, 6064h and 60FFh already).
function addObjects(eds, opts) {
    const add = (index, name, dataType, accessType, defaultValue) =>
        eds.addEntry(index, { parameterName: name, dataType, accessType, defaultValue });
    const record = (index, name, subs) => {
        const r = eds.addEntry(index, { parameterName: name, objectType: ObjectType.RECORD });
        subs.forEach(([sub, label, dataType, accessType, value]) =>
            r.addSubObject(sub, { parameterName: label, dataType, accessType, defaultValue: value }));
        return r;
    };
    if (opts.scripting) {
        record(0x3500, 'Drive script', [
            [1, 'Script status', DataType.INTEGER8, 'ro', 0],
            [2, 'Script control', DataType.INTEGER8, 'rw', 0],
            [3, 'Parameter change lock', DataType.UNSIGNED8, 'rw', 0],
        ]);
    }
    Program.addObjects(eds);
    add(0x603F, 'Error code', DataType.UNSIGNED16, 'ro', 0);
    add(0x6063, 'Position actual internal value', DataType.INTEGER32, 'ro', 0);
    add(0x606C, 'Velocity actual value', DataType.INTEGER32, 'ro', 0);
    add(0x607A, 'Target position', DataType.INTEGER32, 'rw', 0);
    add(0x607C, 'Home offset', DataType.INTEGER32, 'rw', 0);
    add(0x607F, 'Max profile velocity', DataType.UNSIGNED32, 'rw', opts.maxspeed >>> 0);
    add(0x6081, 'Profile velocity', DataType.UNSIGNED32, 'rw', 1000);
    add(0x6083, 'Profile acceleration', DataType.UNSIGNED32, 'rw', 5000);
    add(0x6084, 'Profile deceleration', DataType.UNSIGNED32, 'rw', 5000);
    record(0x608F, 'Position encoder resolution', [
        [1, 'Encoder increments', DataType.UNSIGNED32, 'rw', opts.encoder >>> 0],
        [2, 'Motor revolutions', DataType.UNSIGNED32, 'rw', opts.revolutions >>> 0],
    ]);
    add(0x6098, 'Homing method', DataType.INTEGER8, 'rw', 35);
    record(0x6099, 'Homing speeds', [
        [1, 'Speed during search for switch', DataType.UNSIGNED32, 'rw', 500],
        [2, 'Speed during search for zero', DataType.UNSIGNED32, 'rw', 100],
    ]);
    add(0x609A, 'Homing acceleration', DataType.UNSIGNED32, 'rw', 1000);
    add(0x60B8, 'Touch probe function', DataType.UNSIGNED16, 'rw', 0);
    add(0x6502, 'Supported drive modes', DataType.UNSIGNED32, 'ro', opts.modes >>> 0);
}

class Cia402Drive {
    constructor(node) {
        this.node = node;
        this.device = null;
        this.resetApplication();
        this.last = process.hrtime.bigint();
        this.timer = setInterval(() => this.tick(), TICK_MS);
        this.timer.unref();
        // Writes the drive refuses are answered with an abort before the
        // stack's SDO server sees them.
        this.program = new Program.DriveProgram(node);
        const serve = node._sdoRequest.bind(node);
        node._sdoRequest = (data) => {
            const code = this.device ? this.refusedWrite(data) || this.program.check(data) : 0;
            if (code)
                return node.sdoAbort(data.readUInt16LE(1), data[3], code);
            serve(data);
            if (this.device)
                this.program.after(data);
        };
    }

    // Power on or application reset: motor at rest at position 0.
    resetApplication() {
        this.state = State.SWITCH_ON_DISABLED;
        this.lastCw = 0;
        this.position = 0;        // increments, fractional while moving
        this.velocity = 0;        // rpm
        this.mode = Mode.NONE;
        this.move = null;         // { target } of the running profile position move
        this.buffered = null;     // set-point waiting for the running move to end
        this.ack = false;         // statusword bit 12 in profile position mode
        this.homing = null;       // { method, phase } while homing runs
        this.homed = false;
        this.homingError = false;
        this.mechanicalZero = 0;  // where the home switch is, in increments
        this.faultCode = 0;
    }

    // Takes the node's new object dictionary after a restart; a reset of
    // communication (keepState) leaves the drive's application running.
    bind(device, keepState) {
        if (!keepState)
            this.resetApplication();
        this.device = device;
        const cw = this.entry(0x6040);
        cw.on('update', () => this.evaluate());
        this.entry(0x6060).on('update', () => this.takeMode());
        if (keepState)
            this.lastCw = cw.value;
        this.takeMode();
        this.publish();
        this.program.bind();
    }

    stop() {
        clearInterval(this.timer);
        this.device = null;
    }

    entry(index, sub) {
        const e = this.device.eds.getEntry(index);
        return sub === undefined ? e : e.at(sub);
    }

    read(index, sub) { return this.entry(index, sub).value; }

    // -- SDO writes the drive refuses ------------------------------------

    refusedWrite(data) {
        if ((data[0] >> 5) !== 1 || !(data[0] & 0x02))
            return 0; // only expedited downloads carry a value to check
        const index = data.readUInt16LE(1);
        const size = (data[0] & 0x01) ? 4 - ((data[0] >> 2) & 3) : 4;
        const signed = () => (size === 1 ? data.readInt8(4) : size === 2 ? data.readInt16LE(4) : data.readInt32LE(4));
        const unsigned = () => (size === 1 ? data[4] : size === 2 ? data.readUInt16LE(4) : data.readUInt32LE(4));
        switch (index) {
            case 0x6060: {
                const mode = signed();
                const supported = mode === Mode.NONE || (MODE_SUPPORT_BIT[mode] & this.read(0x6502));
                return supported ? 0 : VALUE_RANGE_EXCEEDED;
            }
            case 0x6098: {
                const method = signed();
                const known = (method >= 0 && method <= 35) || method === 37;
                return known ? 0 : VALUE_RANGE_EXCEEDED;
            }
            case 0x6081:
            case 0x6099:
                // No profile or homing speed above the maximum.
                return unsigned() > this.read(0x607F) ? VALUE_TOO_HIGH : 0;
            default:
                return 0;
        }
    }

    // -- device state machine ---------------------------------------------

    takeMode() {
        this.mode = this.read(0x6060);
        this.entry(0x6061).value = this.mode;
        if (this.mode !== Mode.PROFILE_POSITION) {
            this.move = null;
            this.buffered = null;
            this.ack = false;
        }
        if (this.mode !== Mode.HOMING)
            this.homing = null;
        this.publish();
    }

    // Runs the controlword: the command its level gives, and the edges of
    // fault reset (bit 7) and new set-point / homing start (bit 4).
    evaluate() {
        const cw = this.read(0x6040);
        const previous = this.lastCw;
        const rose = (bit) => (cw & bit) !== 0 && (previous & bit) === 0;
        const fell = (bit) => (cw & bit) === 0 && (previous & bit) !== 0;
        const faultReset = rose(0x80);
        this.lastCw = cw;

        if (this.state === State.FAULT) {
            if (faultReset)
                this.clearFault();
            this.publish();
            return;
        }
        if (this.state === State.FAULT_REACTION_ACTIVE) {
            this.publish();
            return;
        }
        const command = commandOf(cw);
        const before = this.state;
        switch (this.state) {
            case State.SWITCH_ON_DISABLED:
                if (command === 'shutdown')
                    this.state = State.READY_TO_SWITCH_ON;
                break;
            case State.READY_TO_SWITCH_ON:
                if (command === 'switch on')
                    this.state = State.SWITCHED_ON;
                else if (command === 'enable operation')
                    this.state = State.OPERATION_ENABLED;
                else if (command === 'disable voltage' || command === 'quick stop')
                    this.state = State.SWITCH_ON_DISABLED;
                break;
            case State.SWITCHED_ON:
                if (command === 'enable operation')
                    this.state = State.OPERATION_ENABLED;
                else if (command === 'shutdown')
                    this.state = State.READY_TO_SWITCH_ON;
                else if (command === 'disable voltage' || command === 'quick stop')
                    this.state = State.SWITCH_ON_DISABLED;
                break;
            case State.OPERATION_ENABLED:
                if (command === 'switch on')
                    this.state = State.SWITCHED_ON;
                else if (command === 'shutdown')
                    this.state = State.READY_TO_SWITCH_ON;
                else if (command === 'disable voltage')
                    this.state = State.SWITCH_ON_DISABLED;
                else if (command === 'quick stop')
                    this.state = State.QUICK_STOP_ACTIVE;
                break;
            case State.QUICK_STOP_ACTIVE:
                if (command === 'disable voltage')
                    this.state = State.SWITCH_ON_DISABLED;
                break;
        }
        if (before === State.OPERATION_ENABLED && this.state !== State.OPERATION_ENABLED
            && this.state !== State.QUICK_STOP_ACTIVE) {
            // The power stage is off: the brake holds the motor.
            this.velocity = 0;
            this.move = null;
            this.buffered = null;
            this.homing = null;
        }
        if (this.state === State.OPERATION_ENABLED) {
            if (rose(0x10))
                this.newSetPoint(cw);
            if (fell(0x10)) {
                if (this.mode === Mode.PROFILE_POSITION && !this.buffered)
                    this.ack = false;
                if (this.mode === Mode.HOMING)
                    this.homing = null; // homing is interrupted
            }
        }
        this.publish();
    }

    newSetPoint(cw) {
        if (this.mode === Mode.PROFILE_POSITION) {
            if (this.buffered)
                return; // buffer full: the set-point is not taken
            // The profile goes with the set-point: a later change of 6081h,
            // 6083h or 6084h is for the next one.
            const setPoint = {
                target: this.read(0x607A),
                speed: Math.min(this.read(0x6081), this.read(0x607F)),
                acc: Math.max(1, this.read(0x6083)),
                dec: Math.max(1, this.read(0x6084)),
            };
            if (!this.move || (cw & 0x20))
                this.move = setPoint;
            else
                this.buffered = setPoint;
            this.ack = true;
        } else if (this.mode === Mode.HOMING) {
            const method = this.read(0x6098);
            this.homed = false;
            // Method 0: no homing assigned; the drive reports a homing error.
            this.homingError = method === 0;
            this.homing = method === 0 ? null : { method, phase: 'switch' };
        }
    }

    injectFault(code) {
        if (this.state === State.FAULT || this.state === State.FAULT_REACTION_ACTIVE)
            return;
        this.state = State.FAULT_REACTION_ACTIVE;
        this.faultCode = code & 0xFFFF;
        this.move = null;
        this.buffered = null;
        this.homing = null;
        this.entry(0x603F).value = this.faultCode;
        this.entry(0x1001).value = 0x01;
        const emcy = Buffer.alloc(8);
        emcy.writeUInt16LE(this.faultCode, 0);
        emcy[2] = 0x01;
        this.node.emergency(emcy);
        this.publish();
    }

    clearFault() {
        this.state = State.SWITCH_ON_DISABLED;
        this.faultCode = 0;
        this.entry(0x603F).value = 0;
        this.entry(0x1001).value = 0;
        this.node.emergency(Buffer.alloc(8));
    }

    // -- motion -------------------------------------------------------------

    incrementsPerRevolution() {
        return Math.max(1, this.read(0x608F, 1)) / Math.max(1, this.read(0x608F, 2));
    }

    tick() {
        if (!this.device)
            return;
        const now = process.hrtime.bigint();
        const dt = Math.min(0.1, Number(now - this.last) / 1e9);
        this.last = now;
        if (dt <= 0)
            return;
        const decel = Math.max(1, this.read(0x6084));
        if (this.state === State.FAULT_REACTION_ACTIVE || this.state === State.QUICK_STOP_ACTIVE) {
            this.velocity = approach(this.velocity, 0, decel * dt);
            if (this.velocity === 0)
                this.state = this.state === State.FAULT_REACTION_ACTIVE ? State.FAULT : State.SWITCH_ON_DISABLED;
        } else if (this.state === State.OPERATION_ENABLED) {
            const halt = (this.lastCw & 0x100) !== 0;
            if (this.mode === Mode.PROFILE_VELOCITY)
                this.runVelocity(dt, halt);
            else if (this.mode === Mode.PROFILE_POSITION)
                this.runPosition(dt, halt);
            else if (this.mode === Mode.HOMING)
                this.runHoming(dt);
            else
                this.velocity = approach(this.velocity, 0, decel * dt);
        }
        this.position += this.velocity / 60 * this.incrementsPerRevolution() * dt;
        this.publish();
    }

    // Changes the velocity toward `wanted` with the profile's acceleration
    // (speeding up) or deceleration (slowing down).
    ramp(wanted, dt, acc, dec) {
        const speedingUp = Math.abs(wanted) > Math.abs(this.velocity) && Math.sign(wanted) !== -Math.sign(this.velocity);
        this.velocity = approach(this.velocity, wanted, (speedingUp ? acc : dec) * dt);
    }

    runVelocity(dt, halt) {
        const max = this.read(0x607F);
        const target = halt ? 0 : clamp(this.read(0x60FF), -max, max);
        this.ramp(target, dt, Math.max(1, this.read(0x6083)), Math.max(1, this.read(0x6084)));
    }

    runPosition(dt, halt) {
        if (!this.move || halt) {
            this.ramp(0, dt, Math.max(1, this.read(0x6083)), Math.max(1, this.read(0x6084)));
            return;
        }
        const { speed, acc, dec } = this.move;
        const perRpm = this.incrementsPerRevolution() / 60;   // increments/s per rpm
        const remaining = this.move.target - this.position;
        // The fastest speed from which the motor still stops at the target.
        const stopping = Math.sqrt(2 * dec * perRpm * Math.abs(remaining)) / perRpm;
        this.ramp(Math.sign(remaining) * Math.min(speed, stopping), dt, acc, dec);
        const step = this.velocity * perRpm * dt;
        if (Math.abs(remaining) < 1 || (step !== 0 && Math.abs(step) >= Math.abs(remaining) && Math.sign(step) === Math.sign(remaining))) {
            this.position = this.move.target;
            this.velocity = 0;
            this.move = this.buffered;
            this.buffered = null;
            if ((this.lastCw & 0x10) === 0)
                this.ack = false;
        }
    }

    runHoming(dt) {
        const h = this.homing;
        if (!h) {
            this.velocity = approach(this.velocity, 0, Math.max(1, this.read(0x609A)) * dt);
            return;
        }
        const acc = Math.max(1, this.read(0x609A));
        if (h.method === 35 || h.method === 37) {
            this.arriveHome();
            return;
        }
        // The home switch sits where the position counter started.
        const perRpm = this.incrementsPerRevolution() / 60;
        const remaining = this.mechanicalZero - this.position;
        const speed = h.phase === 'switch' ? this.read(0x6099, 1) : this.read(0x6099, 2);
        if (h.phase === 'switch' && Math.abs(remaining) < this.incrementsPerRevolution() / 4)
            h.phase = 'zero';
        this.ramp(Math.sign(remaining) * speed, dt, acc, acc);
        const step = this.velocity * perRpm * dt;
        if (Math.abs(remaining) < 1 || Math.abs(step) >= Math.abs(remaining))
            this.arriveHome();
    }

    arriveHome() {
        const offset = this.read(0x607C);
        // Mechanical zero moves with the counter so a second homing finds
        // the switch at the same place.
        this.mechanicalZero += offset - this.position;
        this.position = offset;
        this.velocity = 0;
        this.homing = null;
        this.homed = true;
    }

    // -- objects ------------------------------------------------------------

    statusword() {
        // The power stage always has its supply here: bit 4 stays set.
        let sw = STATE_BITS[this.state] | VOLTAGE_ENABLED | REMOTE;
        if (this.state !== State.OPERATION_ENABLED)
            return sw;
        const halt = (this.lastCw & 0x100) !== 0;
        const standing = this.velocity === 0;
        switch (this.mode) {
            case Mode.PROFILE_POSITION:
                if ((!this.move && standing) || (halt && standing))
                    sw |= TARGET_REACHED;
                if (this.ack)
                    sw |= MODE_BIT_12;
                break;
            case Mode.PROFILE_VELOCITY: {
                const max = this.read(0x607F);
                const target = halt ? 0 : clamp(this.read(0x60FF), -max, max);
                if (Math.abs(this.velocity - target) < 0.5)
                    sw |= TARGET_REACHED;
                if (standing)
                    sw |= MODE_BIT_12;
                break;
            }
            case Mode.HOMING:
                if (!this.homing && standing)
                    sw |= TARGET_REACHED;
                if (this.homed)
                    sw |= MODE_BIT_12;
                if (this.homingError)
                    sw |= HOMING_ERROR;
                break;
            default:
                break;
        }
        return sw;
    }

    publish() {
        if (!this.device)
            return;
        const set = (index, value) => {
            const e = this.entry(index);
            if (e.value !== value)
                e.value = value;
        };
        set(0x6041, this.statusword());
        const position = Math.round(this.position);
        set(0x6063, position);
        set(0x6064, position);
        set(0x606C, Math.round(this.velocity));
    }

    describe() {
        return `state=${this.state.replace(/ /g, '_')} mode=${this.mode} sw=${hex(this.statusword(), 4)}`
            + ` cw=${hex(this.lastCw, 4)} pos=${Math.round(this.position)} vel=${Math.round(this.velocity)}`
            + ` fault=${hex(this.faultCode, 4)}`;
    }
}

function approach(value, target, step) {
    if (value < target)
        return Math.min(target, value + step);
    if (value > target)
        return Math.max(target, value - step);
    return value;
}

function clamp(v, lo, hi) { return Math.min(hi, Math.max(lo, v)); }

function hex(v, n) { return (v >>> 0).toString(16).padStart(n, '0'); }

// The gateway's DRIVE command: "DRIVE <h> STATE" and "DRIVE <h> FAULT [code]".
function command(gateway, words) {
    const node = gateway.node(words[0]);
    if (!node.drive || !node.device)
        throw new Error(`node ${words[0]} is no drive`);
    const sub = (words[1] || '').toUpperCase();
    if (sub === 'STATE')
        return node.drive.describe();
    if (sub === 'PROGRAM')
        return node.drive.program.describe();
    if (sub === 'FAULT') {
        const code = words[2] === undefined ? 0x2310 : parseInt(String(words[2]).replace(/h$/i, '').replace(/^0x/i, ''), 16);
        if (!(code >= 0 && code <= 0xFFFF))
            throw new Error('fault code: four hex digits');
        node.drive.injectFault(code);
        return '';
    }
    throw new Error('usage: DRIVE <h> STATE|PROGRAM|FAULT [code]');
}

module.exports = { Cia402Drive, addObjects, command, OPTIONS, DEFAULTS };
