#!/usr/bin/env python3
"""Regenerates components/wmastd/wmastdtables.cpp from Debian's ffmpeg source.

The WMA 9 Standard format's tables (coefficient Huffman and run/level tables,
exponent code, high-band gain code, LSP codebook, exponent bands, critical
frequencies) are published only inside FFmpeg's LGPL-2.1-or-later source.
This script reads them from an unpacked source tree (`apt-get source ffmpeg`)
and prints one C++ file that keeps FFmpeg's notices.

    python3 tools/gen_wmastd_tables.py /path/to/ffmpeg-5.1.x > components/wmastd/wmastdtables.cpp

To check the committed file against a source tree, compare instead:

    python3 tools/gen_wmastd_tables.py /path/to/ffmpeg-5.1.x | diff - components/wmastd/wmastdtables.cpp
"""

import re
import sys
from pathlib import Path

LICENCE = """\
 * FFmpeg is free software; you can redistribute it and/or
 * modify it under the terms of the GNU Lesser General Public
 * License as published by the Free Software Foundation; either
 * version 2.1 of the License, or (at your option) any later version.
 *
 * FFmpeg is distributed in the hope that it will be useful,
 * but WITHOUT ANY WARRANTY; without even the implied warranty of
 * MERCHANTABILITY or FITNESS FOR A PARTICULAR PURPOSE.  See the GNU
 * Lesser General Public License for more details.
 *
 * You should have received a copy of the GNU Lesser General Public
 * License along with FFmpeg; if not, write to the Free Software
 * Foundation, Inc., 51 Franklin Street, Fifth Floor, Boston, MA 02110-1301 USA"""


def array_body(text, name):
    """The initialiser of the C array `name` as a flat list of number strings."""
    match = re.search(r"\b" + re.escape(name) + r"\s*(\[[^=]*\])\s*=\s*\{", text)
    if not match:
        sys.exit(f"gen_wmastd_tables: {name} not found")
    depth, pos = 1, match.end()
    while depth:
        depth += {"{": 1, "}": -1}.get(text[pos], 0)
        pos += 1
    body = re.sub(r"/\*.*?\*/", "", text[match.end():pos - 1], flags=re.S)
    return body


def numbers(body):
    return re.findall(r"-?(?:0x[0-9a-fA-F]+|\d+\.\d+|\d+)", body)


def rows(body):
    """Nested initialiser: one list of numbers per inner brace."""
    return [numbers(inner) for inner in re.findall(r"\{([^{}]*)\}", body)]


def flat(name, ctype, values, per_line=12):
    lines = [f"const {ctype} {name}[{len(values)}] = {{"]
    for i in range(0, len(values), per_line):
        lines.append("    " + ", ".join(values[i:i + per_line]) + ",")
    lines.append("};")
    return "\n".join(lines)


def nested(name, ctype, table, width):
    lines = [f"const {ctype} {name}[{len(table)}][{width}] = {{"]
    suffix = "f" if ctype == "float" else ""
    for row in table:
        lines.append("    {" + ", ".join(v + suffix for v in row) + "},")
    lines.append("};")
    return "\n".join(lines)


def main():
    if len(sys.argv) != 2:
        sys.exit(__doc__)
    src = Path(sys.argv[1]) / "libavcodec"
    wmadata = (src / "wmadata.h").read_text()
    aactab = (src / "aactab.c").read_text()
    freqs = (src / "wma_freqs.c").read_text()

    out = [
        "/*",
        " * Tables of the WMA 9 Standard bitstream, derived from FFmpeg's",
        " * libavcodec/wmadata.h, libavcodec/aactab.c and libavcodec/wma_freqs.c",
        " * by tools/gen_wmastd_tables.py (values copied, layout regenerated; do not",
        " * edit by hand).",
        " *",
        " * Copyright (c) 2002-2007 The FFmpeg Project",
        " * Copyright (c) 2005-2006 Oded Shimon",
        " * Copyright (c) 2006-2007 Maxim Gavrilov",
        " *",
        LICENCE,
        " */",
        "",
        '#include "wmastdtables.h"',
        "",
        "namespace wmastd::tables {",
        "",
    ]
    for rate in (44100, 32000, 22050):
        table = rows(array_body(wmadata, f"exponent_band_{rate}"))
        out.append(nested(f"kExponentBands{rate}", "uint8_t", table, 25))
        out.append("")
    out.append(nested("kHighGainCode", "uint8_t", rows(array_body(wmadata, "ff_wma_hgain_hufftab")), 2))
    out.append("")
    out.append(nested("kLspCodebook", "float", rows(array_body(wmadata, "ff_wma_lsp_codebook")), 16))
    out.append("")
    for i in range(6):
        out.append(flat(f"kCoefCodes{i}", "uint32_t", numbers(array_body(wmadata, f"coef{i}_huffcodes")), 8))
        out.append(flat(f"kCoefBits{i}", "uint8_t", numbers(array_body(wmadata, f"coef{i}_huffbits")), 16))
        out.append(flat(f"kCoefLevels{i}", "uint16_t", numbers(array_body(wmadata, f"levels{i}")), 16))
        out.append("")
    out.append("const CoefTable kCoefTables[6] = {")
    for i in range(6):
        n = len(numbers(array_body(wmadata, f"coef{i}_huffbits")))
        levels = len(numbers(array_body(wmadata, f"levels{i}")))
        out.append(f"    {{{n}, kCoefCodes{i}, kCoefBits{i}, {levels}, kCoefLevels{i}}},")
    out.append("};")
    out.append("")
    out.append(flat("kExponentCodes", "uint32_t", numbers(array_body(aactab, "ff_aac_scalefactor_code")), 8))
    out.append(flat("kExponentBits", "uint8_t", numbers(array_body(aactab, "ff_aac_scalefactor_bits")), 16))
    out.append("")
    out.append(flat("kCriticalFreqs", "uint16_t", numbers(array_body(freqs, "ff_wma_critical_freqs")), 13))
    out.append("")
    out.append("} // namespace wmastd::tables")
    print("\n".join(out))


if __name__ == "__main__":
    main()
