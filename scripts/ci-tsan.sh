#!/usr/bin/env bash
# The tests that run threads, message windows and timers, under ThreadSanitizer (the
# tsan-concurrency test preset names them). Only the test programs holding them and the library
# the end-to-end tests load are built.
set -euo pipefail
cd "$(dirname "$0")/.."

targets=(kestrel kestrel_platform_tests kestrel_common_tests kestrel_framework_tests
         kestrel_parser_tests kestrel_settings_tests kestrel_translation_tests kestrel_e2e_tests
         kestrel_json_tests kestrel_host_tests)

# GCC's ThreadSanitizer expects the address layout of kernels with fewer random mmap bits; on
# newer kernels it may stop with "unexpected memory mapping". Running without address space
# randomisation avoids that; where setarch cannot, the tests run as they are.
run=()
if setarch "$(uname -m)" -R true 2>/dev/null; then
  run=(setarch "$(uname -m)" -R)
fi

start=$(date +%s)
cmake --preset tsan
# Test discovery runs each program once after it is linked: that must not be randomised either.
"${run[@]}" cmake --build --preset tsan -j2 --target "${targets[@]}"
"${run[@]}" ctest --preset tsan-concurrency
echo "ThreadSanitizer stage: $(( $(date +%s) - start )) s"
