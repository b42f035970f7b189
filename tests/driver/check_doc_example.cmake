# docs/driver.md shows the example driver in full; it must be the very file
# that the example driver test builds. Needs -DDOC and -DEXAMPLE.
cmake_minimum_required(VERSION 3.25)
file(READ ${DOC} doc)
file(READ ${EXAMPLE} example)
string(FIND "${doc}" "```cpp\n${example}```\n" at)
if(at EQUAL -1)
  message(FATAL_ERROR "${DOC} does not show ${EXAMPLE} as it is: copy the file into its ```cpp block")
endif()
