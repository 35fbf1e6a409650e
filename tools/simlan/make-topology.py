#!/usr/bin/env python3
"""Prints a benchmark LAN for simlan.sh: the scanner at 198.18.0.1 and devices spread over the
first SPAN addresses of 198.18.0.0/PREFIX, a fifth of them with a MAC outside the vendor
prefixes, the others named "Encoder N" with a firmware version.

  make-topology.py --prefix 24 --span 256 --devices 20 --seed 5 \\
      [--special "--arp-delay 800"] [--special "--arp-drop 1"] ...

Each --special adds its encodersim options to one more device under a vendor prefix, chosen by
the seed, so the same seed gives the same LAN."""

import argparse
import random
import sys

VENDOR_PREFIXES = ["02:06:00", "d0:c8:00", "08:ea:40", "0c:8c:24"]
OTHER_PREFIX = "00:11:22"
BASE = 198 << 24 | 18 << 16


def main():
    parser = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    parser.add_argument("--prefix", type=int, default=24)
    parser.add_argument("--span", type=int, default=256)
    parser.add_argument("--devices", type=int, default=20)
    parser.add_argument("--seed", type=int, default=1)
    parser.add_argument("--special", action="append", default=[], metavar="OPTIONS")
    args = parser.parse_args()

    # .0 is the network, .1 the scanner, the last address of the span may be the broadcast.
    if not 0 < args.devices <= args.span - 3 or args.span > 1 << (32 - args.prefix):
        sys.exit("make-topology.py: %d devices do not fit a span of %d in a /%d"
                 % (args.devices, args.span, args.prefix))
    rng = random.Random(args.seed)
    offsets = sorted(rng.sample(range(2, args.span - 1), args.devices))
    ours = [i for i in range(args.devices) if i % 5 != 4]
    if len(args.special) > len(ours):
        sys.exit("make-topology.py: more --special than encoders")
    specials = dict(zip(rng.sample(ours, len(args.special)), args.special))

    print("scanner 198.18.0.1/%d" % args.prefix)
    for i, offset in enumerate(offsets):
        address = BASE + offset
        ip = ".".join(str(address >> shift & 255) for shift in (24, 16, 8, 0))
        prefix = OTHER_PREFIX if i % 5 == 4 else VENDOR_PREFIXES[i % 5]
        line = "device %s/%d %s:%02x:%02x:%02x --name 'Encoder %d' --fw 1.%d" % (
            ip, args.prefix, prefix, i, offset >> 8 & 255, offset & 255, offset, i)
        if i in specials:
            line += " " + specials[i]
        print(line)


if __name__ == "__main__":
    main()
