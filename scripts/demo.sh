#!/usr/bin/env bash
# Build the program, run it on the bundled sample export with the sample key
# fed on standard input, and show the decrypted token table.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
cd "$root"
bash scripts/deps.sh program
# The program alone, built as users build it: the tests and benchmarks need
# packages the demo does not.
cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=Release -DBUILD_TESTS=OFF -DBUILD_BENCH=OFF >/dev/null
cmake --build build --target quorvel_tokenexp mkexport

work=$(mktemp -d)
gnupg=$(mktemp -d)
trap 'rm -rf "$work" "$gnupg"' EXIT
chmod 700 "$gnupg"

echo "== quorvel_tokenexp examples/sample.exp examples/demo_public_key.asc (key fed on standard input)"
(cd "$work" && build_dir="$root/build" &&
	"$build_dir/quorvel_tokenexp" "$root/examples/sample.exp" "$root/examples/demo_public_key.asc" \
		< "$root/examples/sample_export_key.txt")

echo "== the recipient decrypts sample.exp.gpg with the demo secret key"
GNUPGHOME=$gnupg gpg --batch --quiet --import "$root/examples/demo_secret_key.DEMO-ONLY.asc"
# The message is integrity-protected, so gpg opens it with no option.
GNUPGHOME=$gnupg gpg --batch --quiet --decrypt "$work/sample.exp.gpg" 2>/dev/null
