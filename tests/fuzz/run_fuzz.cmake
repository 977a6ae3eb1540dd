# Runs the decoder fuzzer for a bounded time over a scratch copy of the seeds.
# Inputs: FUZZER, SEEDS, DICT, WORK, SECONDS.
file(REMOVE_RECURSE ${WORK})
file(COPY ${SEEDS}/ DESTINATION ${WORK}/corpus)
execute_process(
  COMMAND ${FUZZER} -max_total_time=${SECONDS} -dict=${DICT} -artifact_prefix=${WORK}/ ${WORK}/corpus
  RESULT_VARIABLE result)
if(NOT result EQUAL 0)
  message(FATAL_ERROR "decoder_fuzz failed (${result}); the input that failed is in ${WORK}")
endif()
