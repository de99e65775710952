#!/usr/bin/python3
"""Tones and transients, ours against libavcodec's wmav2 at the same rate.

Usage: transients.py BUILD/bin/bench_wmastd WORKDIR PROFILES [--peer]

bench_wmastd --levels --keep writes the generated stress signals and our
encodes of them; this decodes them with ffmpeg and prints per profile:
  sweep   SNR while the -6 dBFS sweep is below 400 Hz, NMR and in-band NMR
          (../shared/tools/nmr.py), the decoded peak over the source's;
  bells   NMR;
  clicks  (the castanet-like signal) the pre-echo: the largest error in the
          5-20 ms before each burst, worst over the bursts, in dBFS; NMR.
With --peer the same for wmav2 (CBR profiles) in brackets. Needs numpy.
"""
import json
import os
import re
import subprocess
import sys

import numpy as np

HERE = os.path.dirname(os.path.abspath(__file__))
NMR = os.path.join(HERE, '..', '..', '..', 'shared', 'tools', 'nmr.py')
SECONDS = 10.0


def profiles():
    table = {}
    with open(os.path.join(HERE, '..', '..', 'components', 'audio', 'wmaprofiles.cpp')) as f:
        for line in f:
            m = re.match(r'\s*\{"(.*?)", (\d+), (\d), (\d+), (\d+), RC::(\w+)\}', line)
            if m:
                table[len(table) + 1] = (m.group(1), int(m.group(2)), int(m.group(3)), int(m.group(4)))
    return table


def run(args, data=None):
    return subprocess.run(args, input=data, check=True, capture_output=True).stdout


def read(path, rate, channels):
    raw = run(['ffmpeg', '-v', 'error', '-i', path, '-f', 'f32le', '-ar', str(rate), '-ac', str(channels), '-'])
    return np.frombuffer(raw, dtype=np.float32).reshape(-1, channels).astype(np.float64)


def write(path, x, rate):
    run(['ffmpeg', '-v', 'error', '-y', '-f', 'f32le', '-ar', str(rate), '-ac', str(x.shape[1]), '-i', '-',
         '-c:a', 'pcm_f32le', path], x.astype(np.float32).tobytes())


def aligned(ref, dec, maxlag=5000):
    n = min(len(ref), len(dec))
    size = 1 << int(np.ceil(np.log2(2 * n)))
    c = np.fft.irfft(np.fft.rfft(dec[:n, 0], size) * np.conj(np.fft.rfft(ref[:n, 0], size)), size)
    c = np.concatenate([c[:maxlag], c[-maxlag:]])
    lag = int(np.argmax(np.abs(c)))
    lag = lag if lag < maxlag else lag - 2 * maxlag
    dec = dec[lag:] if lag >= 0 else np.vstack([np.zeros((-lag, dec.shape[1])), dec])
    n = min(len(ref), len(dec))
    return ref[:n], dec[:n]


def nmr(ref_path, dec_path):
    o = json.loads(run(['/usr/bin/python3', NMR, ref_path, dec_path, '--json']))
    return o['nmr_total_db'], o['nmr_inband_total_db']


def measure(kind, ref, dec, rate, ref_path, dec_path):
    r, d = aligned(ref, dec)
    e = d - r
    out = {'nmr': nmr(ref_path, dec_path)}
    if kind == 'sweep':  # 20 Hz to 20 kHz, exponential
        below = int(SECONDS * np.log(400 / 20) / np.log(1000) * rate)
        a = int(0.05 * rate)
        out['snr400'] = 10 * np.log10(np.sum(r[a:below] ** 2) / np.sum(e[a:below] ** 2))
        out['peak'] = 20 * np.log10(np.max(np.abs(d)) / np.max(np.abs(r)))
    if kind == 'clicks':  # a burst every 250 ms
        worst = max(np.max(np.abs(e[int((t - 0.020) * rate):int((t - 0.005) * rate)]))
                    for t in np.arange(0.25, len(e) / rate - 0.01, 0.25))
        out['pre'] = 20 * np.log10(worst + 1e-12)
    return out


def main():
    bench, work, wanted = sys.argv[1], sys.argv[2], sys.argv[3]
    peer = '--peer' in sys.argv
    table = profiles()
    kinds = {2: 'bells', 3: 'sweep', 4: 'clicks'}  # bench_wmastd's order of stress signals
    for number in [int(p) for p in wanted.split(',')]:
        name, rate, channels, kbps = table[number]
        folder = os.path.join(work, str(number))
        os.makedirs(folder, exist_ok=True)
        run([bench, '--levels', '--profiles', str(number), '--keep', folder, '--seconds', str(SECONDS)])
        row = {}
        for k, kind in kinds.items():
            ref = read(os.path.join(folder, 'stress%d.wav' % k), rate, channels)
            ref_path = os.path.join(folder, 'ref%d.wav' % k)
            write(ref_path, ref, rate)
            coders = [('ours', os.path.join(folder, 'stress%d-%d.wma' % (number, k)))]
            theirs = os.path.join(folder, 'wmav2-%d.wma' % k)
            # wmav2 refuses some of the lowest rates: those rows show nan.
            if peer and kbps > 0 and subprocess.run(['ffmpeg', '-v', 'quiet', '-y', '-i', ref_path, '-c:a', 'wmav2',
                                                     '-b:a', str(kbps * 1000), theirs]).returncode == 0:
                coders.append(('wmav2', theirs))
            for coder, path in coders:
                dec = read(path, rate, channels)
                write(path + '.wav', dec, rate)
                row[(coder, kind)] = measure(kind, ref, dec, rate, ref_path, path + '.wav')

        def cell(kind, key, index=None):
            values = []
            for coder in ('ours', 'wmav2'):
                v = row.get((coder, kind), {}).get(key)
                values.append(float('nan') if v is None else v[index] if index is not None else v)
            return '%6.1f' % values[0] + (' (%6.1f)' % values[1] if peer else '')

        print('%2d %-36s sweep SNR<400 %s NMR %s in-band %s peak %s | bells NMR %s | clicks pre-echo %s NMR %s' % (
            number, name, cell('sweep', 'snr400'), cell('sweep', 'nmr', 0), cell('sweep', 'nmr', 1),
            cell('sweep', 'peak'), cell('bells', 'nmr', 0), cell('clicks', 'pre'), cell('clicks', 'nmr', 0)),
            flush=True)


if __name__ == '__main__':
    main()
