# The per-user store file on a real file system (temporary directories only).
oru_add_gtest(platform_linux_store_test SOURCES ${CMAKE_CURRENT_LIST_DIR}/FileRegistryStoreTest.cpp LIBS oru_linux
              LABELS settings)
