# Regenerates the examples into OUT and compares them with the committed ones.
# Arguments: GEN (gen_spectra), SRC (project root), OUT (scratch folder).
# The two generator commands are the ones the README gives.
file(REMOVE_RECURSE "${OUT}")
file(MAKE_DIRECTORY "${OUT}")
set(peptides "${SRC}/examples/peptides.txt")
execute_process(COMMAND "${GEN}" --peptides "${peptides}" "${OUT}" RESULT_VARIABLE rc1)
execute_process(COMMAND "${GEN}" --peptides "${peptides}" --seed 2 --hcd paired_hcd --etd paired_etd
                        --answers paired_answers.txt "${OUT}" RESULT_VARIABLE rc2)
if(NOT rc1 EQUAL 0 OR NOT rc2 EQUAL 0)
  message(FATAL_ERROR "gen_spectra failed (${rc1}, ${rc2})")
endif()
foreach(f hcd_example.mgf etd_example.mgf answers.txt paired_hcd.mgf paired_etd.mgf paired_answers.txt)
  execute_process(COMMAND ${CMAKE_COMMAND} -E compare_files "${OUT}/${f}" "${SRC}/examples/${f}"
                  RESULT_VARIABLE diff)
  if(NOT diff EQUAL 0)
    message(FATAL_ERROR "examples/${f} differs from what gen_spectra makes; regenerate the examples "
                        "with the commands of examples/README.md")
  endif()
endforeach()
