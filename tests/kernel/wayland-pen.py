#!/usr/bin/env python3
# The uhid pen of guest-wayland.sh and its verdicts, for one compositor row.
#   wayland-pen.py calibration BOARD LAYOUT PROBE_LOG   prints the driver's store.conf
#   wayland-pen.py run BOARD LAYOUT PROBE_LOG BUILD DIR COMPOSITOR PASS...
# "run" plugs oru-uhid-tracker, and per PASS ("NAME" or "NAME=COMMAND", the
# command run first) holds the pen on board points until the probe saw the
# pointer settle, clicks the tip and the side button, then compares with
# oru-replay on the same reports. Prints one line per pass; exit status 1 if
# one failed.
import array, fcntl, math, subprocess, sys, time

mode, board, layout, probe_log = sys.argv[1:5]
expected = (0, 0, 1280, 800) if layout == 'one' else (1280, 0, 1024, 768)
screens = {w[1]: tuple(map(int, w[2:6])) for w in (l.split() for l in open(probe_log)) if w[:1] == ['screen']}
X, Y, W, H = screens.get(board, expected)

# The tracker's board units: 2 per board-screen pixel, its two sensors
# BASE apart on the top edge; the calibration targets 10 % in from the corners.
BASE = 634.065
def board_point(sx, sy): return 2 * sx - 1000, -100 - 2 * sy
targets = [(round(W * fx), round(H * fy)) for fy in (0.1, 0.9) for fx in (0.1, 0.9)]
texts = [str(v) for t in targets for v in board_point(*t)]
if mode == 'calibration':
    print('[Software\\oruDriver]\n"FormVersion" = int 0')
    for i, text in enumerate(texts): print('"Edit%d_Text" = text "%s"' % (i + 1, text))
    if layout == 'two': print('"BoardScreen_Text" = text "%s"' % board)
    sys.exit(0)

build, out, compositor, passes = sys.argv[5], sys.argv[6], sys.argv[7], sys.argv[8:]
tracker = subprocess.Popen([build + '/tests/oru-uhid-tracker'], stdin=subprocess.PIPE, stdout=subprocess.PIPE,
                           text=True, bufsize=1)
def command(line):
    tracker.stdin.write(line + '\n')
    return tracker.stdout.readline().strip()
def row(name, problems, detail=''):
    print('%-7s %-4s %-13s %s%s' % (compositor, layout, name, detail, '  FAILED: ' + '; '.join(problems) if problems else '  ok'))
    return bool(problems)

if not screens or command('plug').split()[0] != 'plugged' or command('wait-open 30000') != 'open':
    sys.exit(row('-', ['no probe window, or no driver on the pen tracker']))

probe = open(probe_log)
events = []  # (kind, screen, x, y[, button])
def read_probe():
    for line in probe.readlines():
        w = line.split()
        if w[:1] == ['motion']: events.append(('motion', w[1], float(w[2]), float(w[3])))
        elif w[:1] in (['press'], ['release']): events.append((w[0], w[2], float(w[3]), float(w[4]), w[1]))
reports, clock = [], [time.monotonic()]
def send(state, sx, sy):  # one report, 20 ms after the last one
    x, y = board_point(sx, sy)
    a, b = round(math.hypot(x, y)), round(math.hypot(x - BASE, y))
    ha, hb = min(a // 255, 63), min(b // 255, 63)
    reports.append([(state << 6) | ha, hb, a - ha * 255, b - hb * 255, 0])
    clock[0] += 0.020
    time.sleep(max(0.0, clock[0] - time.monotonic()))
    command('pen %d %d %d' % (state, a, b))
    read_probe()
def hold(sx, sy, until, count=40, limit=8.0):  # hovers until the probe shows what `until` wants
    start, end = len(events), time.monotonic() + limit
    clock[0] = time.monotonic()
    while count > 0 or (not until(events[start:]) and time.monotonic() < end):
        send(0, sx, sy)
        count -= 1
    return len(reports)
node = [None]
def driver_pointer():  # where the driver's device points now, in desktop pixels
    if not node[0]:
        name = None
        for line in open('/proc/bus/input/devices'):
            name = line.strip()[9:-1] if line.startswith('N: Name=') else name
            if line.startswith('H: Handlers=') and name == 'oruDriver pen':
                node[0] = open('/dev/input/' + next(w for w in line.split() if w.startswith('event')), 'rb')
    axes = []
    for axis in (0, 1):  # EVIOCGABS: value, minimum, maximum, ...
        info = array.array('i', [0] * 6)
        fcntl.ioctl(node[0], (2 << 30) | (24 << 16) | (ord('E') << 8) | (0x40 + axis), info)
        axes.append(info)
    # A range the size of the board's output alone is bound to it (weston).
    bound = (axes[0][2] + 1, axes[1][2] + 1) == (W, H)
    return axes[0][0] + (X if bound else 0), axes[1][0] + (Y if bound else 0)
recent = []
def settled(new):  # the driver's pointer has stopped, and the probe shows it there
    recent[:] = recent[-4:] + [driver_pointer()]
    seen = next((e for e in reversed(events) if e[0] == 'motion'), None)
    return len(set(recent)) == 1 and len(recent) == 5 and seen is not None and seen[2:4] == recent[0]
released = lambda new: any(e[0] == 'release' for e in new)

failed = False
for k in range(20):  # until the compositor has the driver's pointer and moves it; not measured
    hold(W // 2, H // (3 + k % 2), settled, limit=0.5)
    if any(e[0] == 'motion' for e in events): break
else:
    command('quit')
    sys.exit(row('-', ['the probe saw no pointer motion at all']))
hold(W // 3, H // 3, settled)
points = [(W // 10, H // 10), (W // 2, H // 2), (W * 9 // 10, H * 9 // 10), (1, 1), (W - 1, H - 1),
          (W * 234 // 1000, H * 3 // 4), (W * 78 // 100, H * 19 // 100)]
results = []
for p in passes:
    name, _, hook = p.partition('=')
    if hook: subprocess.run(hook.split(), stdout=subprocess.DEVNULL)
    first, holds = len(events), []
    for sx, sy in points:
        end = hold(sx, sy, settled)
        holds.append((sx, sy, end, next((e for e in reversed(events) if e[0] == 'motion'), None)))
    clicks = []
    for state in (1, 2):  # the tip, then the side button, at the board's centre
        hold(W // 2, H // 2, settled)
        start = len(events)
        for k in range(6): send(state, W // 2, H // 2)
        hold(W // 2, H // 2, released, count=10, limit=5.0)
        clicks.append(next((e for e in events[start:] if e[0] == 'press'), None))
    results.append((name, first, holds, clicks))
command('quit')

with open(out + '/pen.replay', 'w') as f:
    f.write('screen %d %d\ncalibration %s\n' % (W, H, ' '.join(texts)))
    for i, r in enumerate(reports): f.write('report %d %s\n' % (i * 20, ' '.join('%02x' % v for v in r)))
replay = subprocess.run([build + '/bin/oru-replay', out + '/pen.replay'], capture_output=True, text=True).stdout
cursor = [(int(w[0]), int(w[2]), int(w[3])) for w in (l.split() for l in replay.splitlines()) if w[1:2] == ['cursor']]
with open(out + '/replay.out', 'w') as f: f.write(replay)
log = open(out + '/holds.txt', 'w')
for name, first, holds, clicks in results:
    problems, worst = [], 0.0
    if len(screens) != (1 if layout == 'one' else 2): problems.append('outputs %s' % ' '.join(sorted(screens)))
    if (X, Y, W, H) != expected: problems.append('board output %s at %d,%d %dx%d, not %d,%d %dx%d' % ((board, X, Y, W, H) + expected))
    for sx, sy, end, seen in holds:
        meant = [(x + X, y + Y) for t, x, y in cursor if t <= (end - 1) * 20][-1]
        d = math.hypot(seen[2] - meant[0], seen[3] - meant[1]) if seen else math.inf
        log.write('%s pen %d,%d meant %d,%d seen %s\n' % (name, sx, sy, meant[0], meant[1], seen and '%g,%g on %s' % (seen[2], seen[3], seen[1])))
        if d > 0 and d >= worst: worst, far = d, 'meant %d,%d, seen %s' % (meant + (seen and '%g,%g on %s' % (seen[2], seen[3], seen[1]) or 'nothing',))
    if worst > 0: problems.append('pointer off by up to %.1f px (%s)' % (worst, far))
    tip, side = clicks
    if not tip or tip[4] != 'left' or tip[1] != board: problems.append('tip click: %s' % (tip and 'press %s on %s' % (tip[4], tip[1])))
    if not side or side[4] != 'right': problems.append('side click: %s' % (side and 'press ' + side[4]))
    balance = {}
    for e in events[first:]:
        if e[0] in ('press', 'release'): balance[e[4]] = balance.get(e[4], 0) + (1 if e[0] == 'press' else -1)
    held = [b for b, n in balance.items() if n > 0]
    if held: problems.append('held at the end: ' + ' '.join(held))
    failed |= row(name, problems, 'max %.1f px over %d holds, tip %s, side %s, held %s' % (
        worst, len(holds), tip and tip[4] + ' on ' + tip[1], side and side[4], ' '.join(held) or 'none'))
sys.exit(1 if failed else 0)
