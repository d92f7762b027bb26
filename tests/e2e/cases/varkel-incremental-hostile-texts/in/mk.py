# Writes the records: every hostile text of the table with a number (the first one makes
# the first category, whose label shows its quote as a blank), split over three
# steps (step1.txt, step2.txt, step3.txt) and all together (all.txt). Fields are cut at
# '|', so a text may hold every byte but '|', line feed and carriage return.
texts = [b'q"uote', b'a\\;b', b'a\\\\\\;b', b'a%2bb', b'x%3Cy', b'tab%09x', b'%5c%3b', b'x' * 255,
         b'+' * 85, b'a;' * 60, b'q\'uote', b'back\\', b'\\\\;;\\', b'&amp;<x>',
         bytes(b for b in range(1, 128) if b not in (10, 13, 124)),
         bytes(range(128, 256)), b'plain', b'', b'(blank)', b'%', b'%%25']
steps = [[], [], []]
for i, t in enumerate(texts):
    steps[i % 3].append(t + b'|%d\n' % (i + 1))
    if i % 4 == 0:
        steps[(i + 1) % 3].append(t + b'|%d\n' % (100 + i))
head = b'name|units\n'
for n, rows in enumerate(steps):
    open('step%d.txt' % (n + 1), 'wb').write(head + b''.join(rows))
open('all.txt', 'wb').write(head + b''.join(steps[0] + steps[1] + steps[2]))
