# Runs a fuzzer a fixed number of inputs from a fixed seed over its seed corpus, so that a run
# in CI is repeatable: new inputs go to a work directory emptied first, never into the seeds.
#   cmake -DFUZZER=... -DSEEDS=... -DWORK=... -DRUNS=... -DMAX_LEN=... -P run_fuzzer.cmake
file(REMOVE_RECURSE "${WORK}")
file(MAKE_DIRECTORY "${WORK}")
execute_process(
  COMMAND "${FUZZER}" -seed=1 -runs=${RUNS} -max_len=${MAX_LEN} -close_fd_mask=3 -print_final_stats=1
          "-artifact_prefix=${WORK}/"
          "${WORK}" "${SEEDS}"
  RESULT_VARIABLE status)
if(NOT status EQUAL 0)
  message(FATAL_ERROR "${FUZZER} found a fault (status ${status}); the input is named above")
endif()
