# The link's manager, its reader threads and its reconnect timer, on top of the line transport.
# Included from this folder's CMakeLists.txt; tg_log comes from src/shell, added after this folder.
if(TARGET tg_link)
  add_library(tg_comm STATIC
    ${CMAKE_CURRENT_LIST_DIR}/Communicate.cpp
    ${CMAKE_CURRENT_LIST_DIR}/LinkConnection.cpp
    ${CMAKE_CURRENT_LIST_DIR}/ReconnectTimer.cpp
    ${CMAKE_CURRENT_LIST_DIR}/RequestThread.cpp
    ${CMAKE_CURRENT_LIST_DIR}/ThreadWait.cpp)
  target_include_directories(tg_comm PUBLIC ${CMAKE_CURRENT_LIST_DIR})
  target_link_libraries(tg_comm PUBLIC tg_link tg_log)
  # The default router of the manager is the real one.
  if(TARGET tg_router)
    target_sources(tg_comm PRIVATE ${CMAKE_CURRENT_LIST_DIR}/CommunicateRouter.cpp)
    target_link_libraries(tg_comm PUBLIC tg_router)
  endif()
endif()
