# Registers opcsim.dll in the build's Wine prefix with regsvr32 (cmake -P). A regsvr32 run that
# hangs (once seen when Wine was busy starting up) is ended after a while and tried again.
#   -DWINE_ENV=<wine-env.sh> -DDLL=<Windows path of the DLL> -DLOG=<log file>
foreach(attempt 1 2 3)
  execute_process(COMMAND ${WINE_ENV} regsvr32 /s ${DLL}
                  RESULT_VARIABLE rc TIMEOUT 40 OUTPUT_FILE ${LOG} ERROR_FILE ${LOG})
  if(rc STREQUAL "0")
    return()
  endif()
  message(STATUS "regsvr32 attempt ${attempt} ended with: ${rc}")
endforeach()
message(FATAL_ERROR "regsvr32 could not register ${DLL}")
