// Compiled once to produce the shared precompiled header.
