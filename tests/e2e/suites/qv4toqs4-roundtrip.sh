#!/usr/bin/env bash
# Round trip of the profile tools: every text profile under tests/fixtures/roundtrip is
# compiled by tarnwick, printed back by qv4toqs4, and the script compiled again; both
# compiled profiles must be the same bytes. The profiles under tests/fixtures/roundtrip-script
# compile to tree operators that the script cannot repeat (items deeper than the items after
# them); their script must compile again and print back as the same script.
#
# What a round trip cannot keep, so the fixtures avoid it:
# - a plain item (no match, compute or extract) comes back as a computed item with an empty
#   compute text and the format D1N3;
# - the start and end years of a date and the "fixed" of sub_field are not printed (the
#   builder does not use them);
# - allownavigation is never printed;
# - a measures axis with a compute text whose first item has a compute text of its own, and
#   an empty measures axis with a compute text, come back with what the compiler wrote for
#   them, not with what the profile said;
# - only a file's first profile block is read back.
set -u
build=$(cd "$1" && pwd)
fixtures=$(cd "$(dirname "$0")/../../fixtures" && pwd)
tarnwick="$build/profile/tarnwick"
qv4toqs4="$build/profile/qv4toqs4"
work=$(mktemp -d "${TMPDIR:-/tmp}/qv4toqs4-roundtrip.XXXXXX")
trap 'rm -rf "$work"' EXIT

# Measures axes of every shape that decides which record carries the axis's compute text:
# each head with each first measure and each second one.
heads=('measure' 'measure "M" compute="C"' 'measure compute=""')
firsts=('' '"T" function = sum.own(all)' '"T" function = sum.own(all) compute="F"'
  '"T" function = max.own(1-3) compute="F"' '"T" function = sum.own(all) compute=""'
  '"T" compute="D"' '"T" compute=""' '"T" extract=x' '"T" compute="D" extract=x')
seconds=('' '"b" compute="E"' '"b" function = sum.own(all)')
mkdir "$work/measures"
n=0
for h in "${heads[@]}"; do
  for f in "${firsts[@]}"; do
    for b in "${seconds[@]}"; do
      # Without a first measure the second one is the first.
      [ -z "$f" ] && [ -n "$b" ] && continue
      n=$((n + 1))
      printf '<!--varkel\nsetup {\n\tdecimalpoints=2\n}\naxis "A" {\n\t"a" match (F = "x")\n}\n%s {\n\t%s\n\t%s\n}\nvarkel-->\n' \
        "$h" "$f" "$b" > "$work/measures/shape-$n.qv"
    done
  done
done

fail=0
for profile in "$fixtures"/roundtrip/*.qv "$fixtures"/roundtrip-script/*.qv "$work"/measures/*.qv; do
  name=${profile##*/} name=${name%.qv}
  if ! "$tarnwick" "$profile" "$work/$name.qv4" >"$work/$name.log" 2>&1; then
    echo "$name: tarnwick failed on the profile:"; cat "$work/$name.log"; fail=1; continue
  fi
  if ! "$qv4toqs4" "$work/$name.qv4" "$work/$name.qs4" >"$work/$name.log" 2>&1; then
    echo "$name: qv4toqs4 failed:"; cat "$work/$name.log"; fail=1; continue
  fi
  if ! "$tarnwick" "$work/$name.qs4" "$work/$name.again.qv4" >"$work/$name.log" 2>&1; then
    echo "$name: tarnwick failed on the printed script:"; cat "$work/$name.log"
    cat -A "$work/$name.qs4"; fail=1; continue
  fi
  dir=${profile%/*}
  if [ "${dir##*/}" = roundtrip-script ]; then
    if ! "$qv4toqs4" "$work/$name.again.qv4" "$work/$name.again.qs4" >"$work/$name.log" 2>&1; then
      echo "$name: qv4toqs4 failed on the second compile:"; cat "$work/$name.log"; fail=1
    elif ! diff -u <(tail -n +2 "$work/$name.qs4") <(tail -n +2 "$work/$name.again.qs4"); then
      echo "$name: the printed scripts differ"; fail=1
    elif [ "$(grep -c ' match (' "$profile")" != "$(grep -c ' match (' "$work/$name.qs4")" ]; then
      echo "$name: items were lost:"; cat "$work/$name.qs4"; fail=1
    else
      echo "$name: same script"
    fi
  elif ! cmp -s "$work/$name.qv4" "$work/$name.again.qv4"; then
    echo "$name: the compiled profiles differ"
    echo "first:  $(cat -A "$work/$name.qv4")"
    echo "second: $(cat -A "$work/$name.again.qv4")"
    echo "script:"; cat -A "$work/$name.qs4"
    fail=1
  elif [ "$dir" != "$work/measures" ]; then
    echo "$name: same compiled profile"
  fi
done
echo "$n measures axes: each the same compiled profile unless said above"
exit $fail
