# Registers the out-of-process simulator in the build's Wine prefix (cmake -P): the proxy/stub
# with regsvr32, then opcsim-server.exe /RegServer. The LOCALCOM fixture.
#   -DWINE_ENV=<wine-env.sh> -DDLL=<Windows path of opcps.dll> -DEXE=<Windows path of the exe>
#   -DLOG=<log file>
foreach(command "regsvr32;/s;${DLL}" "${EXE};/RegServer")
  execute_process(COMMAND ${WINE_ENV} ${command} RESULT_VARIABLE rc TIMEOUT 60
                  OUTPUT_FILE ${LOG} ERROR_FILE ${LOG})
  if(NOT rc STREQUAL "0")
    message(FATAL_ERROR "${command} ended with: ${rc}")
  endif()
endforeach()
