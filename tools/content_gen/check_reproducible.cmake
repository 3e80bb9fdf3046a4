# Runs the content generator into a fresh folder and fails unless it wrote the expected files,
# each identical to the one the build generated into the bundle: two runs, byte for byte.
# Variables: GENERATOR, FONT, LICENCE, WORK_DIR, BUILT (the build's content folder), EXPECTED
# (list of relative paths).
file(REMOVE_RECURSE ${WORK_DIR}/fresh)
execute_process(COMMAND ${GENERATOR} ${WORK_DIR}/fresh ${FONT} ${LICENCE} RESULT_VARIABLE status)
if(NOT status EQUAL 0)
  message(FATAL_ERROR "content generator failed (${status})")
endif()

file(GLOB_RECURSE files LIST_DIRECTORIES false RELATIVE ${WORK_DIR}/fresh ${WORK_DIR}/fresh/*)
list(SORT files)
set(expected ${EXPECTED})
list(SORT expected)
if(NOT files STREQUAL expected)
  message(FATAL_ERROR "unexpected file list:\n${files}\nexpected:\n${expected}")
endif()

foreach(name IN LISTS files)
  file(SHA256 ${WORK_DIR}/fresh/${name} a)
  file(SHA256 ${BUILT}/${name} b)
  if(NOT a STREQUAL b)
    message(FATAL_ERROR "${name} differs from the build's")
  endif()
  message(STATUS "${a}  ${name}")
endforeach()
list(LENGTH files count)
message(STATUS "${count} files identical to the build's")
file(REMOVE_RECURSE ${WORK_DIR}/fresh)
