#!/usr/bin/env python3
# SPDX-License-Identifier: Apache-2.0
"""Applies recorded mutants again and names the tests that fail on each.

The mutation tool draws its mutants from the sources of its day; once the
tests change, the question is whether the mutants they killed still die, and
by which tests. This script takes result files of that tool, finds each
mutant's original line in today's sources (exactly once, or the mutant is
'gone'), applies it, rebuilds, runs CTest and records every failing test
(or, with --stop, the first ones: faster, the attribution partial). Sources
and object files are always restored.

  tools/remutate.py --src . --build build-mut --out after.json \\
      [--only killed|all] [--stop] [--filter REGEX] [--ctest-args "-LE install"] \\
      tests/mutation/seed11-after.json tests/mutation/seed12-today.json
"""
import argparse
import json
import os
import re
import shlex
import shutil
import subprocess
import sys
import time


def run(cmd, timeout=None):
    try:
        r = subprocess.run(cmd, capture_output=True, text=True, timeout=timeout)
        return r.returncode, r.stdout + r.stderr
    except subprocess.TimeoutExpired as e:
        return -1, str(e.stdout or '') + str(e.stderr or '')


def objects_of(build, path):
    """The object files compiled from path, from compile_commands.json."""
    out = []
    for e in json.load(open(os.path.join(build, 'compile_commands.json'))):
        if os.path.realpath(e['file']) == os.path.realpath(path):
            args = e.get('arguments') or shlex.split(e['command'])
            if '-o' in args:
                out.append(os.path.join(e['directory'], args[args.index('-o') + 1]))
    return [o for o in out if os.path.exists(o)]


def failing_tests(out):
    found = re.findall(r'^\s*\d+ - (\S+) \(([^)]*)\)', out, re.M)
    return sorted(set(name + ('' if why == 'Failed' else ' (%s)' % why) for name, why in found))


def main():
    ap = argparse.ArgumentParser(description=__doc__.split('\n')[0])
    ap.add_argument('--src', required=True)
    ap.add_argument('--build', required=True)
    ap.add_argument('--out', required=True)
    ap.add_argument('--only', default='killed', help="the recorded status to take, or 'all'")
    ap.add_argument('--stop', action='store_true', help='stop CTest at the first failure')
    ap.add_argument('--filter', default='', help='regex over "file:id:result-file"')
    ap.add_argument('--ctest-args', default='-LE install')
    ap.add_argument('--timeout', type=int, default=300, help='per-test CTest timeout (s)')
    ap.add_argument('results', nargs='+')
    a = ap.parse_args()
    src, build = os.path.abspath(a.src), os.path.abspath(a.build)

    mutants = []
    for f in a.results:
        for m in json.load(open(f))['results']:
            if a.only == 'all' or m['status'] == a.only:
                mutants.append(dict(m, source=os.path.basename(f)))
    if a.filter:
        mutants = [m for m in mutants
                   if re.search(a.filter, '%s:%d:%s' % (m['file'], m['id'], m['source']))]

    build_cmd = ['cmake', '--build', build, '-j2']
    ctest_cmd = (['ctest', '--test-dir', build, '-j2', '--timeout', str(a.timeout)] +
                 (['--stop-on-failure'] if a.stop else []) + shlex.split(a.ctest_args))
    rc, out = run(build_cmd)
    if rc:
        sys.exit('the tree does not build:\n' + out[-2000:])

    results = []
    for m in mutants:
        path = os.path.join(src, m['file'])
        text = open(path, newline='').read()
        lines = text.split('\n')
        hits = [i for i, line in enumerate(lines) if line == m['original']]
        r = dict(id=m['id'], source=m['source'], file=m['file'], original=m['original'],
                 mutated=m['mutated'], recorded=m['status'], failing=[])
        t0 = time.time()
        if len(hits) != 1:
            r['status'] = 'gone'
        else:
            lines[hits[0]] = m['mutated']
            saved = []
            try:
                for o in objects_of(build, path):
                    shutil.copy2(o, o + '.remutate')
                    saved.append(o)
                with open(path, 'w', newline='') as f:
                    f.write('\n'.join(lines))
                rc, out = run(build_cmd)
                if rc:
                    r['status'] = 'no-compile'
                else:
                    rc, out = run(ctest_cmd, timeout=a.timeout * 20)
                    r['status'] = 'killed' if rc else 'survived'
                    r['failing'] = failing_tests(out) if rc else []
            finally:
                with open(path, 'w', newline='') as f:
                    f.write(text)
                # The unmutated objects back, newer than the source: the next
                # build only relinks.
                for o in saved:
                    shutil.copyfile(o + '.remutate', o)
                    os.utime(o, None)
                    os.remove(o + '.remutate')
        r['seconds'] = round(time.time() - t0, 1)
        results.append(r)
        print('%s #%d %s %s %s' % (m['source'], m['id'], m['file'], r['status'],
                                   ' '.join(r['failing'])[:160]), flush=True)
        json.dump(results, open(a.out, 'w'), indent=1)
    run(build_cmd)
    count = {s: sum(r['status'] == s for r in results)
             for s in ('killed', 'survived', 'no-compile', 'gone')}
    print(', '.join('%s %d' % kv for kv in count.items()))


if __name__ == '__main__':
    main()
