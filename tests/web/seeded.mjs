// Seeded pseudo-random numbers for the tests' data, so that a failing row can be run again:
// mulberry32(seed) gives a function that returns the next number in [0, 1).
export function mulberry32(seed) {
    return () => {
        seed = (seed + 0x6d2b79f5) | 0;
        let t = Math.imul(seed ^ (seed >>> 15), seed | 1);
        t ^= t + Math.imul(t ^ (t >>> 7), t | 61);
        return ((t ^ (t >>> 14)) >>> 0) / 4294967296;
    };
}
