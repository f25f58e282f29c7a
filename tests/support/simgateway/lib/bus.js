'use strict';
// The simulated CAN bus. Every frame put on it is delivered, in the order it
// was sent, to every attached endpoint but its sender (adapter channels get
// the sender's copy back as an echo). Frames sent while a frame is being
// delivered (a node answering) queue behind it, as on a real bus.
//
// Bit-rate gating: when the bus has a rate, an adapter channel opened at
// another rate neither sends nor receives anything (a real bus at the wrong
// rate is silent for that adapter). Bus timing: when a timing rate is set,
// each frame occupies the bus for its exact length in bits (bit stuffing
// included), so frames arrive no faster than the real bus would carry them.

const { frameBits } = require('./frame');

class Bus {
    constructor() {
        this.rate = null;        // null: every rate is carried
        this.timingRate = null;  // null: frames are delivered at once
        this.endpoints = new Set();
        this.queue = [];
        this.head = 0;
        this.draining = false;
        this.busyUntil = 0;      // ms on the monotonic clock
        this.timer = null;
        this.onCarried = null;   // (frame, source) => void, for the bus log
        this.delivered = 0;
    }

    attach(endpoint) { this.endpoints.add(endpoint); }
    detach(endpoint) { this.endpoints.delete(endpoint); }

    // An endpoint takes part in bus traffic when it is on the bus at its
    // rate; endpoints without a rate of their own (nodes, the stdin peer)
    // always run at the bus's rate.
    carries(endpoint) {
        if (!endpoint.onBus())
            return false;
        return this.rate === null || endpoint.rate === undefined || endpoint.rate === this.rate;
    }

    // Puts a frame on the bus; false when the sender is not on it (closed
    // channel or wrong bit rate). `done` is called once it was delivered.
    transmit(frame, source, done) {
        if (source && !this.carries(source))
            return false;
        let time = 0;
        if (this.timingRate) {
            const now = nowMs();
            const start = Math.max(now, this.busyUntil);
            this.busyUntil = start + frameBits(frame) * 1000 / this.timingRate;
            time = this.busyUntil;
        }
        this.queue.push({ frame, source, time, done });
        this._drain();
        return true;
    }

    pending() { return this.queue.length - this.head; }

    setTiming(rate) {
        this.timingRate = rate;
        this.busyUntil = 0;
        this._drain();
    }

    _drain() {
        if (this.draining)
            return;
        this.draining = true;
        try {
            while (this.head < this.queue.length) {
                const item = this.queue[this.head];
                if (item.time && item.time > nowMs()) {
                    this._schedule(item.time);
                    break;
                }
                ++this.head;
                this._deliver(item);
            }
            if (this.head === this.queue.length) {
                this.queue = [];
                this.head = 0;
            } else if (this.head > 4096) {
                this.queue = this.queue.slice(this.head);
                this.head = 0;
            }
        } finally {
            this.draining = false;
        }
    }

    _schedule(time) {
        if (this.timer)
            return;
        const wait = Math.max(0, time - nowMs());
        const wake = () => {
            this.timer = null;
            this._drain();
        };
        // A frame lasts about 0.1 ms at 1 Mbit/s, but a timer waits 1 ms at
        // least: shorter waits are spent polling, so that the bus is not
        // slower than the rate it stands for.
        this.timer = wait < 1 ? setImmediate(wake) : setTimeout(wake, Math.floor(wait));
    }

    _deliver({ frame, source, done }) {
        ++this.delivered;
        if (this.onCarried)
            this.onCarried(frame, source);
        // Adapters first, so that the sender's echo precedes any answer.
        for (const ep of this.endpoints) {
            if (ep.kind === 'node' || !this.carries(ep))
                continue;
            ep.deliver(frame, ep === source);
        }
        for (const ep of this.endpoints) {
            if (ep.kind !== 'node' || ep === source || !this.carries(ep))
                continue;
            try {
                ep.deliver(frame, false);
            } catch (e) {
                process.stderr.write(`simgateway: node ${ep.name} failed on a frame: ${e.stack}\n`);
            }
        }
        if (done)
            done();
    }
}

const start = process.hrtime.bigint();
function nowMs() {
    return Number(process.hrtime.bigint() - start) / 1e6;
}

module.exports = { Bus, nowMs };
