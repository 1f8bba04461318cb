# The C header of 'corvelctl export --c' as a firmware build sees it: it must
# compile as C99 and as C++17 with every warning an error, in two translation
# units of one program, and carry the very list 'export --json' gives.
#   -DCORVELCTL=... -DSETUP=... -DWORK=... -DCC=... -DCXX=...
file(REMOVE_RECURSE ${WORK})
file(MAKE_DIRECTORY ${WORK})

function(run)
  execute_process(COMMAND ${ARGN} RESULT_VARIABLE rc OUTPUT_VARIABLE out ERROR_VARIABLE err)
  if(NOT rc EQUAL 0)
    message(FATAL_ERROR "failed (${rc}): ${ARGN}\n${out}\n${err}")
  endif()
  set(run_output "${out}" PARENT_SCOPE)
endfunction()

run(${CORVELCTL} export ${SETUP} --c -o ${WORK}/corvel_setup.h)
run(${CORVELCTL} export ${SETUP} --json -o ${WORK}/list.json)

file(WRITE ${WORK}/main.c [=[
#include <stdio.h>
#include "corvel_setup.h"
#include "corvel_setup.h" /* the guard holds */

unsigned checksum(void);

int main(void) {
  size_t i;
  for (i = 0; i < CORVEL_SETUP_WRITE_COUNT; ++i)
    printf("%02X=%02X\n", (unsigned)corvel_setup_writes[i].reg, (unsigned)corvel_setup_writes[i].value);
  printf("%02X %u\n", (unsigned)CORVEL_SETUP_I2C_ADDRESS, checksum() > 0u);
  return 0;
}
]=])
file(WRITE ${WORK}/other.c [=[
#include "corvel_setup.h"

unsigned checksum(void) {
  unsigned sum = CORVEL_SETUP_I2C_KHZ;
  size_t i;
  for (i = 0; i < CORVEL_SETUP_WRITE_COUNT; ++i) sum += corvel_setup_writes[i].value;
  return sum;
}
]=])

# What the JSON list says, in the program's words.
file(READ ${WORK}/list.json json)
string(JSON count LENGTH "${json}" writes)
set(expected "")
if(count GREATER 0)
  math(EXPR last "${count} - 1")
  foreach(i RANGE ${last})
    string(JSON reg GET "${json}" writes ${i} register)
    string(JSON value GET "${json}" writes ${i} value)
    string(SUBSTRING "${reg}" 2 2 reg)
    string(SUBSTRING "${value}" 2 2 value)
    string(APPEND expected "${reg}=${value}\n")
  endforeach()
endif()
string(JSON address GET "${json}" i2c_address)
string(SUBSTRING "${address}" 2 2 address)
string(APPEND expected "${address} 1\n")

foreach(language c cxx)
  if(language STREQUAL "c")
    set(compile ${CC} -std=c99 -pedantic -Wall -Wextra -Werror)
  else()
    set(compile ${CXX} -x c++ -std=c++17 -pedantic -Wall -Wextra -Werror)
  endif()
  run(${compile} -I${WORK} ${WORK}/main.c ${WORK}/other.c -o ${WORK}/setup-${language})
  run(${WORK}/setup-${language})
  if(NOT run_output STREQUAL expected)
    message(FATAL_ERROR "${language}: the header's list\n${run_output}\ndiffers from export --json\n${expected}")
  endif()
endforeach()
message(STATUS "the header compiles as C99 and C++17 and lists ${count} writes")
