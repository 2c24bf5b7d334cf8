# nsfmend_debian_changelog(OUT CHANGELOG_MD SOURCE VERSION MAINTAINER)
# Writes the Debian changelog of the packages from CHANGELOG.md, so the two
# never disagree. Each "## VERSION - YYYY-MM-DD" heading becomes an entry of
# the source package SOURCE, its "- " items the entry's "  * " items (their
# indented continuation lines follow at four blanks), signed by MAINTAINER at
# noon GMT of that date. The newest entry must be VERSION: a release whose
# CHANGELOG.md says nothing of it is stopped here.

# Three-letter weekday of a Gregorian date (Sakamoto's method).
function(nsfmend_weekday out year month day)
  set(offsets 0 3 2 5 0 3 5 1 4 6 2 4)
  math(EXPR m "${month} - 1")
  list(GET offsets ${m} offset)
  set(y ${year})
  if(month LESS 3)
    math(EXPR y "${y} - 1")
  endif()
  math(EXPR w "(${y} + ${y} / 4 - ${y} / 100 + ${y} / 400 + ${offset} + ${day}) % 7")
  set(names Sun Mon Tue Wed Thu Fri Sat)
  list(GET names ${w} name)
  set(${out} ${name} PARENT_SCOPE)
endfunction()

function(nsfmend_debian_changelog out changelog_md source version maintainer)
  set_property(DIRECTORY APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS ${changelog_md})
  # One list item a line; a semicolon in the text must not split a line.
  file(READ ${changelog_md} content)
  string(REPLACE ";" "<semicolon>" content "${content}")
  string(REPLACE "\n" ";" lines "${content}")
  set(months Jan Feb Mar Apr May Jun Jul Aug Sep Oct Nov Dec)
  set(text "")
  set(entry "")    # version of the entry being read
  set(trailer "")  # its closing line
  set(first "")
  foreach(line IN LISTS lines)
    string(REPLACE "<semicolon>" ";" line "${line}")
    if(line MATCHES "^## ([0-9][^ ]*) - ([0-9][0-9][0-9][0-9])-([0-9][0-9])-([0-9][0-9])$")
      if(entry)
        string(APPEND text "\n${trailer}\n\n")
      endif()
      set(entry ${CMAKE_MATCH_1})
      if(NOT first)
        set(first ${entry})
      endif()
      set(year ${CMAKE_MATCH_2})
      set(day ${CMAKE_MATCH_4})
      math(EXPR month "1${CMAKE_MATCH_3} - 100")  # no octal reading of 08, 09
      math(EXPR d "1${day} - 100")
      nsfmend_weekday(weekday ${year} ${month} ${d})
      math(EXPR m "${month} - 1")
      list(GET months ${m} month_name)
      string(APPEND text "${source} (${entry}) unstable; urgency=medium\n\n")
      set(trailer " -- ${maintainer}  ${weekday}, ${day} ${month_name} ${year} 12:00:00 +0000")
    elseif(entry AND line MATCHES "^- (.*)$")
      string(APPEND text "  * ${CMAKE_MATCH_1}\n")
    elseif(entry AND line MATCHES "^  +([^ ].*)$")
      string(APPEND text "    ${CMAKE_MATCH_1}\n")
    elseif(entry AND NOT line STREQUAL "")
      message(FATAL_ERROR "${changelog_md}: not a release heading, an item or its continuation: ${line}")
    endif()
  endforeach()
  if(NOT first STREQUAL version)
    message(FATAL_ERROR "${changelog_md}: the newest release is '${first}', the project's version ${version}")
  endif()
  string(APPEND text "\n${trailer}\n")
  file(WRITE ${out} "${text}")
endfunction()
