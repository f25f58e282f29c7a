#!/usr/bin/env node
'use strict';
// Simulated network CAN gateway for Quorvane's tests: a TCP server on
// 127.0.0.1 speaking the ASCII adapter protocol, a simulated bus among all
// its clients, and CANopen nodes on that bus. Controlled through stdin, one
// command a line; reports through stdout, one event a line. The first line
// is "PORT <n>". See README.md for the commands and the nodes.
//
//   node simgateway.js [--port N] [--bitrate BPS|any] [--timing BPS]
//                      [--node "ID key=value ..."]... [--quiet] [--stamp] [--upper] [--acks]

require('./lib/crc16').installNodeCrcShim();

const net = require('net');
const readline = require('readline');
const { Bus } = require('./lib/bus');
const { Client } = require('./lib/client');
const { SimNode, parseNumber } = require('./lib/simnode');
const { parseFrameLine, frameText } = require('./lib/frame');
const { unescapeText } = require('./lib/escape');
const Drive = require('./lib/cia402drive');

class Gateway {
    constructor() {
        this.bus = new Bus();
        this.clients = new Map();
        this.nodes = new Map();
        this.nextCid = 1;
        this.port = 0;
        this.listening = false;
        this.hangup = false;
        this.upperHex = false;
        this.acks = false;
        this.log = { rx: true, tx: false, bus: true };
        this.lines = [];
        this.flushScheduled = false;
        this.peer = { kind: 'peer', name: 'peer', onBus: () => true };
        this.server = net.createServer((socket) => this._accept(socket));
        this.server.on('error', (e) => process.stderr.write(`simgateway: server: ${e.message}\n`));
        this.bus.onCarried = (frame, source) => {
            if (this.log.bus)
                this.out(`BUS ${source ? source.name : 'peer'} ${frameText(frame)}${this.stamp()}`);
        };
    }

    // -- stdout -----------------------------------------------------------

    // With --stamp: " @<ns>" on the monotonic clock (the one a test's
    // steady clock reads), for RX, TX and BUS lines.
    stamp() {
        return this.log.stamp ? ` @${process.hrtime.bigint()}` : '';
    }

    out(line) {
        this.lines.push(line);
        if (!this.flushScheduled) {
            this.flushScheduled = true;
            process.nextTick(() => this.flushOut());
        }
    }

    flushOut() {
        this.flushScheduled = false;
        if (this.lines.length === 0)
            return;
        const text = this.lines.join('\n') + '\n';
        this.lines = [];
        process.stdout.write(text);
    }

    // -- TCP --------------------------------------------------------------

    listen(port) {
        return new Promise((resolve, reject) => {
            const onError = (e) => reject(e);
            this.server.once('error', onError);
            this.server.listen({ port, host: '127.0.0.1', exclusive: true }, () => {
                this.server.removeListener('error', onError);
                this.port = this.server.address().port;
                this.listening = true;
                resolve(this.port);
            });
        });
    }

    _accept(socket) {
        if (this.hangup) {
            this.out('REFUSED');
            socket.destroy();
            return;
        }
        const cid = this.nextCid++;
        const client = new Client(this, socket, cid);
        this.clients.set(cid, client);
        this.bus.attach(client);
        this.out(`CONNECT ${cid} ${socket.remotePort}`);
    }

    clientClosed(client) {
        if (!this.clients.has(client.cid))
            return;
        this.clients.delete(client.cid);
        this.bus.detach(client);
        this.out(`DISCONNECT ${client.cid}`);
    }

    async drop(mode) {
        for (const c of [...this.clients.values()]) {
            c.socket.destroy();
            this.clientClosed(c);
        }
        if (mode === 'hangup') {
            this.hangup = true;
        } else if (this.listening) {
            this.listening = false;
            await new Promise((resolve) => this.server.close(() => resolve()));
        }
    }

    async accept() {
        this.hangup = false;
        if (!this.listening)
            await this.listen(this.port);
    }

    // -- nodes ------------------------------------------------------------

    addNode(handle, words) {
        if (!(handle >= 1 && handle <= 127))
            throw new Error('node handle must be 1..127');
        if (this.nodes.has(handle))
            throw new Error(`node ${handle} exists`);
        const node = new SimNode(this, handle, words);
        this.nodes.set(handle, node);
        this.bus.attach(node);
        node.powerOn(!!node.opts.boot);
        return node;
    }

    node(text) {
        const node = this.nodes.get(parseNumber(text));
        if (!node)
            throw new Error(`no node ${text}`);
        return node;
    }

    // -- flood ------------------------------------------------------------

    flood(count, template) {
        const started = process.hrtime.bigint();
        let sent = 0;
        const make = () => {
            const data = Buffer.from(template.data);
            for (let i = 0; i < Math.min(4, data.length); ++i)
                data[i] = (sent >>> (8 * i)) & 0xFF;
            return Object.assign({}, template, { data });
        };
        const finish = () => {
            const ms = Number(process.hrtime.bigint() - started) / 1e6;
            this.out(`FLOODDONE ${count} ${ms.toFixed(1)}`);
        };
        if (count === 0)
            return finish();
        if (this.bus.timingRate) {
            while (sent < count) {
                const frame = make();
                ++sent;
                this.bus.transmit(frame, this.peer, sent === count ? finish : undefined);
            }
            return;
        }
        const step = () => {
            for (let k = 0; k < 2000 && sent < count; ++k) {
                this.bus.transmit(make(), this.peer);
                ++sent;
            }
            for (const c of this.clients.values())
                c.flush();
            if (sent >= count)
                return finish();
            const full = [...this.clients.values()].find((c) => c.socket.writableLength > (1 << 22));
            if (full)
                full.socket.once('drain', step);
            else
                setImmediate(step);
        };
        step();
    }

    // -- control commands -------------------------------------------------

    async command(line) {
        const words = line.trim().split(/\s+/);
        const verb = words.shift().toUpperCase();
        const fn = COMMANDS[verb];
        if (!fn)
            throw new Error(`unknown command ${verb}`);
        return await fn.call(this, words, line);
    }
}

function onOff(word) {
    const w = String(word).toLowerCase();
    if (w === 'on' || w === '1')
        return true;
    if (w === 'off' || w === '0')
        return false;
    throw new Error('expected on or off');
}

function parseHex(text) {
    let t = String(text).toLowerCase();
    if (t.startsWith('0x'))
        t = t.substr(2);
    if (t.endsWith('h'))
        t = t.slice(0, -1);
    if (!/^[0-9a-f]+$/.test(t))
        throw new Error(`not hexadecimal: ${text}`);
    return parseInt(t, 16);
}

function parseBytes(words) {
    const hex = words.join('').replace(/\s+/g, '');
    if (!/^([0-9a-fA-F]{2})*$/.test(hex))
        throw new Error('bytes must be pairs of hex digits');
    return Buffer.from(hex, 'hex');
}

function parseFrame(text) {
    const frame = parseFrameLine(text || '');
    if (!frame)
        throw new Error(`bad frame line: ${text}`);
    return frame;
}

function parseRate(word) {
    if (word === undefined)
        throw new Error('bit rate missing');
    const w = word.toLowerCase();
    if (w === 'any' || w === 'off')
        return null;
    const m = /^(\d+)(k|m)?$/.exec(w);
    if (!m)
        throw new Error(`bad bit rate: ${word}`);
    return parseInt(m[1], 10) * (m[2] === 'k' ? 1000 : m[2] === 'm' ? 1000000 : 1);
}

const COMMANDS = {
    HELP() { return 'PING QUIT DROP ACCEPT KICK CLIENTS BITRATE TIMING INJECT NMT RAW STATUS FLOOD STALL ACKS HEXCASE LOG NODE NODES STATS DRIVE'; },
    PING() { return ''; },
    QUIT() { setImmediate(() => shutdown(0)); return ''; },
    async DROP(w) {
        const mode = (w[0] || 'refuse').toLowerCase();
        if (mode !== 'refuse' && mode !== 'hangup')
            throw new Error('mode must be refuse or hangup');
        await this.drop(mode);
        return mode;
    },
    async ACCEPT() { await this.accept(); return String(this.port); },
    KICK(w) {
        const c = this.clients.get(parseNumber(w[0]));
        if (!c)
            throw new Error(`no client ${w[0]}`);
        c.socket.destroy();
        this.clientClosed(c);
        return '';
    },
    CLIENTS() {
        return [...this.clients.values()].map((c) =>
            `${c.cid}:${c.isOpen ? 'open' : 'closed'}:${c.rate === null ? '-' : c.rate}`).join(' ');
    },
    BITRATE(w) {
        this.bus.rate = parseRate(w[0]);
        return this.bus.rate === null ? 'any' : String(this.bus.rate);
    },
    TIMING(w) {
        let rate = parseRate(w[0] === 'on' ? String(this.bus.rate || '') || undefined : w[0]);
        this.bus.setTiming(rate);
        return rate === null ? 'off' : String(rate);
    },
    INJECT(w) {
        const frames = w.map(parseFrame);
        if (frames.length === 0)
            throw new Error('frame line missing');
        for (const f of frames)
            this.bus.transmit(f, this.peer);
        return String(frames.length);
    },
    NMT(w) {
        const cmd = parseNumber(w[0]);
        const node = parseNumber(w[1] === undefined ? '0' : w[1]);
        if (!(cmd >= 0 && cmd <= 255 && node >= 0 && node <= 127))
            throw new Error('usage: NMT <command> <node>');
        this.bus.transmit({ id: 0, ext: false, rtr: false, dlc: 2, data: Buffer.from([cmd, node]) }, this.peer);
        return '';
    },
    RAW(w, line) {
        const m = /^\s*\S+\s+(\S+)\s?(.*)$/.exec(line);
        if (!m)
            throw new Error('usage: RAW <cid|*> <escaped text>');
        const bytes = unescapeText(m[2]);
        const targets = m[1] === '*' ? [...this.clients.values()] : [this.clients.get(parseNumber(m[1]))];
        if (targets.some((c) => !c))
            throw new Error(`no client ${m[1]}`);
        for (const c of targets)
            c.send(bytes.toString('latin1'));
        return String(bytes.length);
    },
    STATUS(w) {
        const flags = parseHex(w[0]);
        const targets = w[1] === undefined ? [...this.clients.values()] : [this.clients.get(parseNumber(w[1]))];
        if (targets.some((c) => !c))
            throw new Error(`no client ${w[1]}`);
        for (const c of targets)
            c.status |= flags;
        return '';
    },
    FLOOD(w) {
        const count = parseNumber(w[0]);
        if (!(count >= 0))
            throw new Error('usage: FLOOD <count> [frame line]');
        const template = parseFrame(w[1] || 't1238' + '00'.repeat(8));
        this.flood(count, template);
        return String(count);
    },
    // Blocks the whole process for ms, as a process the system did not
    // schedule for a while.
    STALL(w) {
        const ms = parseNumber(w[0]);
        if (!(ms >= 0 && ms <= 10000))
            throw new Error('usage: STALL <ms>');
        Atomics.wait(new Int32Array(new SharedArrayBuffer(4)), 0, 0, ms);
        return '';
    },
    ACKS(w) { this.acks = onOff(w[0]); return ''; },
    HEXCASE(w) {
        const c = (w[0] || '').toLowerCase();
        if (c !== 'upper' && c !== 'lower')
            throw new Error('expected upper or lower');
        this.upperHex = c === 'upper';
        return c;
    },
    LOG(w) {
        const what = (w[0] || '').toLowerCase();
        const keys = what === 'all' ? Object.keys(this.log) : [what];
        if (!keys.every((k) => k in this.log))
            throw new Error('expected rx, tx, bus or all');
        const on = onOff(w[1]);
        for (const k of keys)
            this.log[k] = on;
        return '';
    },
    DRIVE(w) { return Drive.command(this, w); },
    NODES() {
        return [...this.nodes.values()].map((n) => `${n.handle}:${n.activeId}`).join(' ');
    },
    STATS() {
        return `delivered=${this.bus.delivered} pending=${this.bus.pending()} clients=${this.clients.size} nodes=${this.nodes.size}` +
            ` peak10ms=${this.bus.peakFrames}`;
    },
    NODE(w) {
        const sub = (w.shift() || '').toUpperCase();
        switch (sub) {
            case 'ADD': {
                const handle = parseNumber(w.shift());
                this.addNode(handle, w);
                return String(handle);
            }
            case 'DEL': {
                const n = this.node(w[0]);
                n.shutdown();
                this.bus.detach(n);
                this.nodes.delete(n.handle);
                return '';
            }
            case 'SET':
                this.node(w.shift()).set(w);
                return '';
            case 'BOOT': {
                const targets = (w[0] || '').toLowerCase() === 'all' ? [...this.nodes.values()] : [this.node(w[0])];
                for (const n of targets)
                    n.powerOn(true);
                return '';
            }
            case 'EMCY': {
                const n = this.node(w.shift());
                const bytes = parseBytes(w);
                if (bytes.length > 8)
                    throw new Error('at most 8 bytes');
                n.emergency(bytes);
                return '';
            }
            case 'GET': {
                const n = this.node(w[0]);
                if (!n.device)
                    throw new Error('node has no node id');
                const found = n.lookup(parseHex(w[1]), parseHex(w[2] || '0'));
                if (found.code)
                    throw new Error(`abort ${found.code.toString(16).padStart(8, '0')}`);
                return found.entry.raw.toString('hex');
            }
            case 'PUT': {
                const n = this.node(w.shift());
                if (!n.device)
                    throw new Error('node has no node id');
                const found = n.lookup(parseHex(w[0]), parseHex(w[1]));
                if (found.code)
                    throw new Error(`abort ${found.code.toString(16).padStart(8, '0')}`);
                const bytes = parseBytes(w.slice(2));
                const code = n.writeEntry(found.entry, bytes);
                if (code)
                    throw new Error(`abort ${code.toString(16).padStart(8, '0')}`);
                return String(bytes.length);
            }
            case 'STATE': {
                const n = this.node(w[0]);
                const fmt = (v) => (v === null || v === undefined ? '-' : String(v));
                return `id=${n.activeId} nmt=${n.device ? n.device.state : '-'} lss=${n.lss.modeName}`
                    + ` pending=${n.pendingId} stored=${fmt(n.storedId)} storedrate=${fmt(n.storedRate)}`
                    + ` lssrate=${fmt(n.lss.pendingRate)}`;
            }
            default:
                throw new Error('usage: NODE ADD|DEL|SET|BOOT|EMCY|GET|PUT|STATE ...');
        }
    },
};

// The name an answer repeats: the verb, with its subcommand for NODE.
function commandName(line) {
    const w = line.trim().split(/\s+/);
    const verb = w[0].toUpperCase();
    return verb === 'NODE' && w[1] ? `${verb} ${w[1].toUpperCase()}` : verb;
}

// -- start-up -------------------------------------------------------------

const gw = new Gateway();

function shutdown(code) {
    if (gw.stopping)
        return;
    gw.stopping = true;
    for (const n of gw.nodes.values())
        n.shutdown();
    for (const c of gw.clients.values())
        c.socket.destroy();
    gw.flushOut();
    // Exit once everything written to stdout has gone out.
    process.stdout.write('', () => process.exit(code));
    setTimeout(() => process.exit(code), 2000).unref();
}

function parseArgs(argv) {
    const args = { port: 0, nodes: [], bitrate: null, timing: null };
    for (let i = 0; i < argv.length; ++i) {
        const a = argv[i];
        const value = () => {
            if (i + 1 >= argv.length)
                throw new Error(`${a} needs a value`);
            return argv[++i];
        };
        switch (a) {
            case '--port': args.port = parseNumber(value()); break;
            case '--bitrate': args.bitrate = parseRate(value()); break;
            case '--timing': args.timing = parseRate(value()); break;
            case '--node': args.nodes.push(value().split(/[\s,]+/).filter((s) => s)); break;
            case '--quiet': gw.log.rx = gw.log.bus = false; break;
            case '--stamp': gw.log.stamp = true; break;
            case '--upper': gw.upperHex = true; break;
            case '--acks': gw.acks = true; break;
            default: throw new Error(`unknown argument ${a}`);
        }
    }
    return args;
}

async function main() {
    let args;
    try {
        args = parseArgs(process.argv.slice(2));
    } catch (e) {
        process.stderr.write(`simgateway: ${e.message}\n`);
        process.exit(2);
    }
    gw.bus.rate = args.bitrate;
    gw.bus.setTiming(args.timing);
    try {
        await gw.listen(args.port);
    } catch (e) {
        process.stderr.write(`simgateway: cannot listen on 127.0.0.1:${args.port}: ${e.message}\n`);
        process.exit(1);
    }
    gw.out(`PORT ${gw.port}`);
    for (const words of args.nodes) {
        try {
            gw.addNode(parseNumber(words[0]), words.slice(1));
        } catch (e) {
            process.stderr.write(`simgateway: --node ${words.join(' ')}: ${e.message}\n`);
            process.exit(2);
        }
    }

    // Commands run one after the other, each answered "OK <VERB> [result]"
    // or "ERR <VERB> <reason>" once it is done.
    const rl = readline.createInterface({ input: process.stdin, terminal: false });
    let chain = Promise.resolve();
    rl.on('line', (line) => {
        if (!line.trim())
            return;
        chain = chain.then(async () => {
            try {
                const result = await gw.command(line);
                gw.out(`OK ${commandName(line)}${result ? ' ' + result : ''}`);
            } catch (e) {
                gw.out(`ERR ${commandName(line)} ${e.message}`);
            }
        });
    });
    rl.on('close', () => chain.then(() => shutdown(0)));
}

// stdout on a pipe blocks the whole program while the reader is busy (a test
// blocked in a socket call, say): write it asynchronously instead, so that
// the bus keeps running and the lines wait in memory.
try {
    if (process.stdout._handle && process.stdout._handle.setBlocking)
        process.stdout._handle.setBlocking(false);
} catch (e) { /* stays blocking */ }

process.on('uncaughtException', (e) => process.stderr.write(`simgateway: ${e.stack}\n`));
process.on('SIGTERM', () => shutdown(0));
main();
