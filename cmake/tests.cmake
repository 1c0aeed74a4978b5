# The tests of a build tree, for CTest (`ctest -N` lists them, `ctest -L unit`
# runs one tier). Natively every GoogleTest case is a test of its own, found
# when ctest starts; under Wine each program is one test, since every start of
# Wine costs seconds. tools/test-launch.sh starts them: under Wine for a .exe
# (the toolchain file makes it the emulator), with the test servers' ports.
#
# Dovecot and chronyd are fixtures. ctest runs tests side by side (ctest -j,
# as tools/run-tests.sh does); what tests share is a RESOURCE_LOCK:
#   dovecot      the one Dovecot and its mailboxes; each group of mail tests
#                starts from freshly written mailboxes
#   sntp         127.0.0.1:123 and local port 1024, which the SNTP cases bind
#   wine-prefix  build/wine/unit, whose wineserver each program ends
# A native mail case takes the dovecot lock unless its suite is one of
# KEL_SCRIPTED_SUITES (scripted servers only) and its name has no "Dovecot";
# the Sntp suite takes the sntp lock instead.
include(GoogleTest)
enable_testing()

set(KEL_LAUNCH ${CMAKE_SOURCE_DIR}/tools/test-launch.sh)
set(KEL_SERVERS ${CMAKE_BINARY_DIR}/test-servers)
set(KEL_RESULTS ${CMAKE_BINARY_DIR}/test-results)
# A tree of its own may serve SNTP elsewhere, so that two trees can test at once.
set(KEL_SNTP_ADDRESS 127.0.0.2 CACHE STRING "loopback address of the tests' chronyd")
set(KEL_SERVER_ENV KEL_TEST_SERVERS=${KEL_SERVERS} KEL_SNTP_SERVER=${KEL_SNTP_ADDRESS})
get_filename_component(KEL_BUILD_ROOT ${CMAKE_BINARY_DIR} DIRECTORY)

# kel_fixture(NAME FIXTURES_SETUP|FIXTURES_CLEANUP FIXTURE COMMAND...)
function(kel_fixture name kind fixture)
  add_test(NAME ${name} COMMAND ${ARGN} WORKING_DIRECTORY ${CMAKE_SOURCE_DIR})
  set_tests_properties(${name} PROPERTIES LABELS fixture ${kind} ${fixture})
endfunction()

# kel_mail_test(NAME COMMAND...): a run of the whole mail suite in one process;
# the launcher writes the mailboxes anew first.
function(kel_mail_test name)
  add_test(NAME ${name} COMMAND ${ARGN} WORKING_DIRECTORY ${CMAKE_SOURCE_DIR})
  set_tests_properties(${name} PROPERTIES LABELS mail
    FIXTURES_REQUIRED "dovecot;chrony" RESOURCE_LOCK dovecot
    ENVIRONMENT "${KEL_SERVER_ENV};KEL_TEST_RESET=1")
endfunction()

if(WIN32)
  set(WINE_PREFIX ${KEL_BUILD_ROOT}/wine/unit)
  # GoogleTest's XML report, written by the Windows program to Wine's Z: drive.
  function(kel_gtest_xml var name)
    set(${var} --gtest_output=xml:Z:${KEL_RESULTS}/${name}.xml PARENT_SCOPE)
  endfunction()

  kel_gtest_xml(xml wine-unit)
  add_test(NAME wine-unit COMMAND kel_unit_tests ${xml} WORKING_DIRECTORY ${CMAKE_SOURCE_DIR})
  set_tests_properties(wine-unit PROPERTIES LABELS unit
    ENVIRONMENT KEL_TEST_PREFIX=${WINE_PREFIX} RESOURCE_LOCK wine-prefix)

  # Early (COST): e2e-checks waits for it.
  kel_gtest_xml(xml wine-mail)
  kel_mail_test(wine-mail kel_mail_tests ${xml})
  set_property(TEST wine-mail APPEND PROPERTY ENVIRONMENT KEL_TEST_PREFIX=${WINE_PREFIX})
  set_property(TEST wine-mail APPEND PROPERTY RESOURCE_LOCK wine-prefix sntp)
  set_property(TEST wine-mail PROPERTY COST 300)

  # The Windows tests draw: they start their own wineserver under a display.
  kel_gtest_xml(xml wine-windows)
  add_test(NAME wine-windows COMMAND kel_windows_tests ${xml} WORKING_DIRECTORY ${CMAKE_SOURCE_DIR})
  set_tests_properties(wine-windows PROPERTIES LABELS windows
    ENVIRONMENT "KEL_TEST_PREFIX=${WINE_PREFIX};KEL_TEST_DISPLAY=xvfb" RESOURCE_LOCK wine-prefix)

  # kel.exe under Wine on its own display and prefix, with its own servers:
  # the modules in three parts side by side, each with a prefix of its own
  # (build/wine/<part>). "e2e" runs every module the other two do not name,
  # so that a new module runs there. e2e-checks sets the clock against
  # chronyd, whereupon kel.exe binds local port 1024: it takes the sntp lock.
  set(e2e_checks test_checking test_exit test_pins test_dist)
  set(e2e_links test_real_links test_codepages test_status)
  set(e2e_rest)
  foreach(module ${e2e_checks} ${e2e_links})
    list(APPEND e2e_rest --not ${module})
  endforeach()
  foreach(part e2e-checks e2e-links e2e)
    if(part STREQUAL e2e-checks)
      set(modules ${e2e_checks})
    elseif(part STREQUAL e2e-links)
      set(modules ${e2e_links})
    else()
      set(modules ${e2e_rest})
    endif()
    add_test(NAME ${part} COMMAND python3 tests/e2e/run.py ${modules} --xml ${KEL_RESULTS}/${part}.xml
      WORKING_DIRECTORY ${CMAKE_SOURCE_DIR})
    set_tests_properties(${part} PROPERTIES LABELS e2e COST 250
      ENVIRONMENT "KEL_WIN_BUILD=${CMAKE_BINARY_DIR};KEL_WINE_PREFIX=${part}")
  endforeach()
  # After wine-mail, which would wait for it otherwise: ctest starts
  # e2e-checks while wine-mail's fixtures start.
  set_property(TEST e2e-checks APPEND PROPERTY RESOURCE_LOCK sntp)
  set_property(TEST e2e-checks PROPERTY DEPENDS wine-mail)

  # The same two programs as on an English Windows: Wine's C locale gives
  # them code page 1252.
  kel_gtest_xml(xml wine-unit-1252)
  add_test(NAME wine-unit-1252 COMMAND kel_unit_tests ${xml} WORKING_DIRECTORY ${CMAKE_SOURCE_DIR})
  set_tests_properties(wine-unit-1252 PROPERTIES LABELS unit
    ENVIRONMENT "KEL_TEST_PREFIX=${WINE_PREFIX};KEL_LANG=C.UTF-8" RESOURCE_LOCK wine-prefix)
  kel_gtest_xml(xml wine-windows-1252)
  add_test(NAME wine-windows-1252 COMMAND kel_windows_tests ${xml} WORKING_DIRECTORY ${CMAKE_SOURCE_DIR})
  set_tests_properties(wine-windows-1252 PROPERTIES LABELS windows
    ENVIRONMENT "KEL_TEST_PREFIX=${WINE_PREFIX};KEL_TEST_DISPLAY=xvfb;KEL_LANG=C.UTF-8"
    RESOURCE_LOCK wine-prefix)

  # The popup, status dialog, settings sheet, editors and exit once more on
  # an English Windows (1252) and a Japanese one with UTF-8 as its code page
  # (65001, kel_utf8.exe), each against a run as on a Japanese one.
  foreach(codepage 1252 65001)
    add_test(NAME e2e-${codepage} COMMAND python3 tests/e2e/run.py --codepage ${codepage} test_codepages
      --xml ${KEL_RESULTS}/e2e-${codepage}.xml WORKING_DIRECTORY ${CMAKE_SOURCE_DIR})
    set_tests_properties(e2e-${codepage} PROPERTIES LABELS e2e COST 100 ENVIRONMENT KEL_WIN_BUILD=${CMAKE_BINARY_DIR})
  endforeach()
else()
  gtest_discover_tests(kel_unit_tests DISCOVERY_MODE PRE_TEST DISCOVERY_TIMEOUT 60
    WORKING_DIRECTORY ${CMAKE_SOURCE_DIR} PROPERTIES LABELS unit)

  # The mail cases get the servers' ports through the launcher, and their
  # list-valued properties from a file ctest reads after finding them.
  set_property(TARGET kel_mail_tests PROPERTY CROSSCOMPILING_EMULATOR ${KEL_LAUNCH})
  gtest_discover_tests(kel_mail_tests DISCOVERY_MODE PRE_TEST DISCOVERY_TIMEOUT 60
    WORKING_DIRECTORY ${CMAKE_SOURCE_DIR} TEST_LIST kel_mail_cases)
  kel_fixture(mailboxes-reset FIXTURES_SETUP mailboxes python3 tools/dovecot.py reset ${KEL_SERVERS}/dovecot)
  set_tests_properties(mailboxes-reset PROPERTIES FIXTURES_REQUIRED dovecot RESOURCE_LOCK dovecot)
  # Cases that talk to Dovecot from these suites say so in their names.
  set(KEL_SCRIPTED_SUITES "CheckCycle|GiveUp|ImapScript|KnownMessages|Pipelining|Pop3Script|StlsScript|Transport")
  set(KEL_DOVECOT_CASES "Dovecot|^CheckCycle[.](TheKeyAFirstTls|AKeyOtherThanTheTrusted)|^Transport[.]WritesToAPeer")
  set(props ${CMAKE_BINARY_DIR}/kel_mail_cases.cmake)
  file(WRITE ${props} "set_tests_properties(\${kel_mail_cases} PROPERTIES LABELS mail\n"
    "  FIXTURES_REQUIRED \"dovecot;chrony;mailboxes\" ENVIRONMENT \"${KEL_SERVER_ENV}\")\n"
    "foreach(case IN LISTS kel_mail_cases)\n"
    "  if(case MATCHES \"^Sntp[.]\")\n"
    "    set_tests_properties(\${case} PROPERTIES RESOURCE_LOCK sntp COST 20)\n"
    "  elseif(case MATCHES \"${KEL_DOVECOT_CASES}\" OR NOT case MATCHES \"^(${KEL_SCRIPTED_SUITES})[.]\")\n"
    "    set_tests_properties(\${case} PROPERTIES RESOURCE_LOCK dovecot)\n"
    "  endif()\n"
    "endforeach()\n")
  set_property(DIRECTORY APPEND PROPERTY TEST_INCLUDE_FILES ${props})

  # The mail suite once more under ThreadSanitizer, in a build tree of its own.
  kel_fixture(tsan-build FIXTURES_SETUP tsan
    sh -c "CC=gcc CXX=g++ cmake -S . -B \"$1\" -G Ninja -DKEL_TSAN=ON >/dev/null && cmake --build \"$1\" --target kel_mail_tests"
    sh ${KEL_BUILD_ROOT}/tsan)
  # The SNTP cases apart, so that they wait beside the rest (COST: the
  # longest start first when ctest has no times of its own yet).
  kel_mail_test(tsan-mail ${KEL_LAUNCH} ${KEL_BUILD_ROOT}/tsan/kel_mail_tests --gtest_filter=-Sntp.*
    --gtest_output=xml:${KEL_RESULTS}/tsan-mail.xml)
  add_test(NAME tsan-sntp COMMAND ${KEL_LAUNCH} ${KEL_BUILD_ROOT}/tsan/kel_mail_tests --gtest_filter=Sntp.*
    --gtest_output=xml:${KEL_RESULTS}/tsan-sntp.xml WORKING_DIRECTORY ${CMAKE_SOURCE_DIR})
  set_tests_properties(tsan-sntp PROPERTIES FIXTURES_REQUIRED "chrony" RESOURCE_LOCK sntp COST 150
    ENVIRONMENT "${KEL_SERVER_ENV}")
  set_property(TEST tsan-mail PROPERTY COST 150)
  foreach(t tsan-mail tsan-sntp)
    set_tests_properties(${t} PROPERTIES LABELS tsan)
    set_property(TEST ${t} APPEND PROPERTY FIXTURES_REQUIRED tsan)
    set_property(TEST ${t} APPEND PROPERTY ENVIRONMENT "TSAN_OPTIONS=halt_on_error=1 second_deadlock_stack=1")
  endforeach()

  # Every fuzz target from its seeds, a minute each, two at a time.
  add_test(NAME fuzz COMMAND bash tools/run-fuzz.sh WORKING_DIRECTORY ${CMAKE_SOURCE_DIR})
  set_tests_properties(fuzz PROPERTIES LABELS fuzz PROCESSORS 2 COST 200
    ENVIRONMENT "FUZZ_BUILD=${KEL_BUILD_ROOT}/fuzz;FUZZ_XML=${KEL_RESULTS}/fuzz.xml")
endif()

# The servers come last, so that ctest -N lists the tiers first. A server
# left from an interrupted run is stopped first (no ';' in a command: CMake
# would cut it into arguments there).
kel_fixture(dovecot-start FIXTURES_SETUP dovecot
  sh -c "python3 tools/dovecot.py stop \"$1\" && rm -rf \"$1\" && exec python3 tools/dovecot.py start \"$1\" --stls"
  sh ${KEL_SERVERS}/dovecot)
kel_fixture(dovecot-stop FIXTURES_CLEANUP dovecot python3 tools/dovecot.py stop ${KEL_SERVERS}/dovecot)
# chronyd serves SNTP on a loopback address of its own (port 123).
kel_fixture(chrony-start FIXTURES_SETUP chrony
  sh -c "python3 tools/chrony.py stop \"$1\" && exec python3 tools/chrony.py start \"$1\" \"$2\""
  sh ${KEL_SERVERS}/chrony ${KEL_SNTP_ADDRESS})
kel_fixture(chrony-stop FIXTURES_CLEANUP chrony python3 tools/chrony.py stop ${KEL_SERVERS}/chrony)
