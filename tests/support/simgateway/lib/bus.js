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
//
// A frame starts when the previous one has ended and is delivered when its
// own bits have gone by. A frame that could not start in time because this
// process fell behind (it was not scheduled for a while) makes up at most
// its own length: the frames that waited through a stall follow each other
// at the bus rate instead of arriving in one burst. Frame ends are never
// closer than a frame's length, so within any window the bus carries at most
// one frame more than the real bus could (the one whose start was made up);
// the time lost in a stall is lost, as on a bus whose sender fell silent.
// Waits shorter than a timer tick (which fires a millisecond late or so) are
// waited out in a setImmediate: slept (Atomics.wait) but for the last
// fraction, which is spun, since a sleeping process wakes late on a busy
// machine. The event loop takes what arrived between frames.

const { frameBits } = require('./frame');

// Longer waits go to a timer; shorter ones are slept but for SPIN_MS.
const TIMER_MIN_MS = 2;
const SPIN_MS = 0.25;
// Window of the busiest-window statistic, in ms.
const PEAK_WINDOW_MS = 10;
const sleepCell = new Int32Array(new SharedArrayBuffer(4));

// Iterations of the spin between two readings of the clock (a fraction of a
// microsecond): every reading makes garbage, and the collections it causes
// stop the bus.
const SPIN_STEPS = 64;
let spinSink = 0;

function waitUntil(time) {
    const sleep = time - nowMs() - SPIN_MS;
    if (sleep > 0)
        Atomics.wait(sleepCell, 0, 0, sleep);
    while (nowMs() < time) {
        // spun: the frame's last bits
        for (let i = 0; i < SPIN_STEPS; ++i)
            spinSink ^= i;
    }
}

class Bus {
    constructor() {
        this.rate = null;        // null: every rate is carried
        this.timingRate = null;  // null: frames are delivered at once
        this.endpoints = new Set();
        this.queue = [];
        this.head = 0;
        this.draining = false;
        this.busFree = 0;        // ms on the monotonic clock: the last frame's end
        this.timer = null;
        this.sleeping = false;
        this.onCarried = null;   // (frame, source) => void, for the bus log
        this.delivered = 0;
        // With timing: the most frames delivered within any PEAK_WINDOW_MS,
        // over the delivery times of the last window.
        this.peakFrames = 0;
        this.recent = [];
        this.recentHead = 0;
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
        this.queue.push({ frame, source, done, sent: this.timingRate ? nowMs() : 0, end: 0 });
        this._drain();
        return true;
    }

    pending() { return this.queue.length - this.head; }

    setTiming(rate) {
        this.timingRate = rate;
        this.busFree = 0;
        this.peakFrames = 0;
        this.recent = [];
        this.recentHead = 0;
        for (let i = this.head; i < this.queue.length; ++i)
            this.queue[i].end = 0;
        this._drain();
    }

    _drain() {
        if (this.draining)
            return;
        this.draining = true;
        try {
            while (this.head < this.queue.length) {
                const item = this.queue[this.head];
                if (this.timingRate) {
                    const now = nowMs();
                    if (!item.end) {
                        const length = frameBits(item.frame) * 1000 / this.timingRate;
                        const start = Math.max(item.sent, this.busFree, now - length);
                        item.end = start + length;
                        this.busFree = item.end;
                    }
                    if (item.end > now) {
                        this._schedule(item.end - now);
                        break;
                    }
                    this._countPeak(now);
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

    _countPeak(now) {
        this.recent.push(now);
        while (this.recent[this.recentHead] <= now - PEAK_WINDOW_MS)
            ++this.recentHead;
        this.peakFrames = Math.max(this.peakFrames, this.recent.length - this.recentHead);
        if (this.recentHead > 4096) {
            this.recent = this.recent.slice(this.recentHead);
            this.recentHead = 0;
        }
    }

    _schedule(wait) {
        if (this.timer || this.sleeping)
            return;
        if (wait >= TIMER_MIN_MS) {
            this.timer = setTimeout(() => {
                this.timer = null;
                this._drain();
            }, Math.floor(wait - 1));
        } else {
            this.sleeping = true;
            setImmediate(() => {
                this.sleeping = false;
                const head = this.queue[this.head];
                if (head && head.end)
                    waitUntil(head.end);
                this._drain();
            });
        }
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

// Monotonic milliseconds since start, as a plain number (a BigInt clock
// made more garbage on every reading).
const { performance } = require('perf_hooks');
const start = performance.now();
function nowMs() {
    return performance.now() - start;
}

module.exports = { Bus, nowMs };
