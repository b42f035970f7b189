# The README shows the example driver in full; it must be the very file that
# the example driver test builds. Needs -DREADME and -DEXAMPLE.
cmake_minimum_required(VERSION 3.25)
file(READ ${README} readme)
file(READ ${EXAMPLE} example)
string(FIND "${readme}" "```cpp\n${example}```\n" at)
if(at EQUAL -1)
  message(FATAL_ERROR "${README} does not show ${EXAMPLE} as it is: copy the file into its ```cpp block")
endif()
