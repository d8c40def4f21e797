# Runs the kestrel-host program as a user would and checks what it prints.
#   cmake -DHOST=path/to/kestrel-host -DEXAMPLES=examples -DEXPECTED=expected -DWORK=dir
#         [-DEMULATOR=wine-run.sh|i686] -P host_runs.cmake
# The inputs are named relative to the examples folder, so the data source names in the rows are
# the same on every system and the same expected files serve Linux and Windows builds.
string(REPLACE "|" ";" emulator "${EMULATOR}")
file(MAKE_DIRECTORY ${WORK})
set(failures 0)

# run(NAME EXIT [INPUT file] ARGS ...): runs the host in the examples folder; its stdout goes
# to ${WORK}/NAME.out and stderr to ${WORK}/NAME.err.
function(run name expected_exit)
  cmake_parse_arguments(RUN "" "INPUT" "ARGS" ${ARGN})
  set(input_args)
  if(RUN_INPUT)
    set(input_args INPUT_FILE ${RUN_INPUT})
  endif()
  execute_process(COMMAND ${emulator} ${HOST} ${RUN_ARGS}
                  WORKING_DIRECTORY ${EXAMPLES} ${input_args}
                  OUTPUT_FILE ${WORK}/${name}.out ERROR_FILE ${WORK}/${name}.err
                  RESULT_VARIABLE code TIMEOUT 600)
  if(NOT code STREQUAL "${expected_exit}")
    file(READ ${WORK}/${name}.err err)
    message(SEND_ERROR "${name}: exit code ${code}, expected ${expected_exit}\n${err}")
  endif()
endfunction()

function(expect_same name expected)
  file(READ ${WORK}/${name}.out actual)
  file(READ ${EXPECTED}/${expected} wanted)
  if(NOT actual STREQUAL wanted)
    message(SEND_ERROR "${name}: the output differs from ${EXPECTED}/${expected}:\n${actual}")
  endif()
endfunction()

function(expect_stderr name text)
  file(READ ${WORK}/${name}.err err)
  string(FIND "${err}" "${text}" at)
  if(at LESS 0)
    message(SEND_ERROR "${name}: stderr lacks \"${text}\":\n${err}")
  endif()
endfunction()

set(stable --hide DATE_TIME_STAMP)

# A file in one go, and the same stream through standard input in packets of 7 bytes: blocks
# cut across packets give the same records.
run(file_csv 0 ARGS --format csv ${stable} sensors.jsonl)
expect_same(file_csv sensors.csv)
run(stdin_json 0 INPUT ${EXAMPLES}/sensors.jsonl ARGS --format json --packet-size 7 ${stable} -)
expect_same(stdin_json sensors_stdin.jsonl)
# Two data sources at once, with the parser items they produced.
run(two_sources 0 INPUT ${EXAMPLES}/sensors.jsonl
    ARGS --format csv --items --packet-size 100 ${stable} sensors.jsonl -)
expect_same(two_sources two_sources.csv)
# CSV with --items has one header of columns; what has no column is said and counted.
expect_stderr(two_sources "record 2 has a value \"tags\" without a CSV column")
expect_stderr(two_sources "kestrel-host: 16 values had no CSV column and were left out")

# Log lines of the plug-in reach stderr with their level.
run(report 0 ARGS --format csv --report ${stable} sensors.jsonl)
expect_stderr(report "kestrel-host: info: Kestrel. Data have been processed successfully")

# Under an emulator every process start costs up to a minute: the runs above compare the
# records, the ones below check the host's own decisions, which are the same code everywhere.
if(EMULATOR)
  return()
endif()

# The settings file is handed to the plug-in; a missing or malformed one is refused first.
run(ini 0 ARGS --format json --ini sensors.ini ${stable} sensors.jsonl)
expect_same(ini sensors_ini.jsonl)
expect_stderr(ini "Failed to convert the date/time string '08.12.2026 09:16:00'")
# The device example uses every rule form: formats, epoch times, a path rule, expanded arrays.
run(device 0 ARGS --format json --ini device.ini
    --hide DATE_TIME_STAMP,FULL_DATA_PACKET,DATA_PACKET device.jsonl)
expect_same(device device.jsonl)
run(check_device 0 ARGS --check --ini device.ini)
run(ini_missing 4 ARGS --ini no-such.ini sensors.jsonl)
expect_stderr(ini_missing "cannot read the INI file no-such.ini")
file(WRITE ${WORK}/bad.ini "[Common]\nStart string=\nthis is no INI line\n")
run(ini_bad 4 ARGS --ini ${WORK}/bad.ini sensors.jsonl)
expect_stderr(ini_bad "bad.ini:3: not an INI file")

# The documented exit codes.
run(no_input 5 ARGS no-such-file.jsonl)
expect_stderr(no_input "cannot open the input file no-such-file.jsonl")
# A directory is no input and no INI file, though some systems open it.
run(dir_input 5 ARGS ${WORK})
expect_stderr(dir_input "Is a directory")
run(dir_ini 4 ARGS --ini ${WORK} sensors.jsonl)
expect_stderr(dir_ini "cannot read the INI file")
# The plug-in's counters close every run, the broken block of the example among them.
expect_stderr(file_csv "kestrel-host: source=1 packets=1 bytes=893 blocks=9 rows=9 filtered=0 unparsable=1 oversize=0")
run(no_library 3 ARGS --library ${WORK}/no-such-library sensors.jsonl)
expect_stderr(no_library "cannot load the plug-in")
run(usage 2 ARGS --format xml sensors.jsonl)

# --check: the shipped example loads clean; the example of mistakes gives one warning for each
# and exit code 7. Warnings name the INI file by its full path, which differs from system to
# system; the expected file names it without its folder.
run(check_clean 0 ARGS --check --ini sensors.ini)
file(READ ${WORK}/check_clean.out check_clean)
string(FIND "${check_clean}" "\nwarnings: 0\n" at)
if(at LESS 0)
  message(SEND_ERROR "check_clean: sensors.ini gave warnings:\n${check_clean}")
endif()
run(check_mistakes 7 ARGS --check --ini mistakes.ini)
file(READ ${WORK}/check_mistakes.out check_mistakes)
string(REGEX REPLACE "settings file [^\n]*[/\\]mistakes\\.ini" "settings file mistakes.ini"
       check_mistakes "${check_mistakes}")
file(WRITE ${WORK}/check_mistakes.out "${check_mistakes}")
expect_same(check_mistakes mistakes_check.txt)
# --check --sample: settings that load clean, and a sample on which one rule converts every
# value, one fails on two of three and one meets nothing: exit 7 for the failures alone.
file(WRITE ${WORK}/sample.ini
     "[Common]\nJSON items=temp||1||1||Float%0D%0Amode||1||1||Integer%0D%0Atmep||1||1||Float\n")
file(WRITE ${WORK}/sample.jsonl
     "{\"temp\":21.5,\"mode\":2}\n{\"temp\":\"22,5\",\"mode\":\"fast\"}\n"
     "{\"temp\":23,\"mode\":\"slow\"}\n")
run(check_sample 7 ARGS --check --ini ${WORK}/sample.ini --sample ${WORK}/sample.jsonl)
expect_same(check_sample sample_check.txt)

# The settings reference names every key of the property map, as `Key` in its table.
get_filename_component(source_root ${EXAMPLES} DIRECTORY)
file(STRINGS ${source_root}/resources/options_dialog/property_map.txt map_lines)
file(READ ${source_root}/docs/settings.md settings_doc)
foreach(line IN LISTS map_lines)
  string(STRIP "${line}" line)
  if(line STREQUAL "" OR line MATCHES "^;" OR NOT line MATCHES ",")
    continue()
  endif()
  string(REGEX REPLACE "^[^,]*," "" key "${line}")
  string(FIND "${settings_doc}" "| `${key}` |" at)
  if(at LESS 0)
    message(SEND_ERROR "docs/settings.md lacks the settings key \"${key}\"")
  endif()
endforeach()
