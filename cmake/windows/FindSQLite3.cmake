# Windows build: SQLite is the vendored amalgamation (third_party/sqlite), whose
# target SQLite::SQLite3 exists before anyone looks for the package.
if(TARGET SQLite::SQLite3)
  set(SQLite3_FOUND TRUE)
  set(SQLite3_VERSION 3.52.0)
else()
  set(SQLite3_FOUND FALSE)
endif()
