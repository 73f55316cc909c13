# Makes the microphone's Debian package with cpack and copies it to OUTPUT. Run as
#   cmake -DCPACK=... -DCONFIG=<a CPack configuration naming the microphone component alone>
#         -DWORK=<scratch folder> -DOUTPUT=<the .deb to write> -P MakeMicrophonePackage.cmake
file(REMOVE_RECURSE ${WORK})
execute_process(COMMAND ${CPACK} --config ${CONFIG} -G DEB -B ${WORK}
                RESULT_VARIABLE result OUTPUT_VARIABLE output ERROR_VARIABLE output)
if(NOT result EQUAL 0)
  message(FATAL_ERROR "cpack could not make the microphone's package:\n${output}")
endif()
file(GLOB packages ${WORK}/*.deb)
list(LENGTH packages count)
if(NOT count EQUAL 1)
  message(FATAL_ERROR "cpack made ${count} packages where the microphone's alone was asked for: ${packages}\n${output}")
endif()
file(COPY_FILE ${packages} ${OUTPUT})
