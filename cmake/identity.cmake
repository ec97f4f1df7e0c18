# The program's names and numbers, written once. The top-level, fuzz and
# bench builds include this file; src/config.hpp.in turns it into the header
# the code reads, and the data files and message template take it from here.
set(IRVELO_PROGRAM_NAME irvelo-desktop)
set(IRVELO_VERSION 0.1.0)
set(IRVELO_APPLICATION_ID com.larkspan.Irvelo)
set(IRVELO_URL_SCHEME irvelo)
set(IRVELO_GETTEXT_PACKAGE irvelo-desktop)
