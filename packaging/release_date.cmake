# greeting_release_date(DATE <YYYY-MM-DD> EPOCH <var> RFC2822 <var>)
# Gives a release date as seconds since the epoch (SOURCE_DATE_EPOCH's form)
# and as Debian changelogs write it ("Wed, 09 Dec 2026 00:00:00 +0000"),
# both at midnight UTC.
function(greeting_release_date)
  cmake_parse_arguments(PARSE_ARGV 0 arg "" "DATE;EPOCH;RFC2822" "")
  if(NOT arg_DATE MATCHES "^([0-9][0-9][0-9][0-9])-0?([1-9][0-9]?)-0?([1-9][0-9]?)$")
    message(FATAL_ERROR "release date '${arg_DATE}' is not YYYY-MM-DD")
  endif()
  set(year ${CMAKE_MATCH_1})
  set(month ${CMAKE_MATCH_2})
  set(day ${CMAKE_MATCH_3})
  # Days since 1970-01-01 in the Gregorian calendar, counting years from
  # March so that the leap day falls at a year's end.
  set(march_year ${year})
  if(month LESS_EQUAL 2)
    math(EXPR march_year "${year} - 1")
  endif()
  math(EXPR days "${march_year} * 365 + ${march_year} / 4 - ${march_year} / 100 + ${march_year} / 400
                  + (153 * ((${month} + 9) % 12) + 2) / 5 + ${day} - 1 - 719468")
  math(EXPR epoch "${days} * 86400")
  # 1970-01-01 was a Thursday.
  math(EXPR weekday "(${days} + 4) % 7")
  set(weekdays Sun Mon Tue Wed Thu Fri Sat)
  list(GET weekdays ${weekday} weekday_name)
  math(EXPR month_index "${month} - 1")
  set(months Jan Feb Mar Apr May Jun Jul Aug Sep Oct Nov Dec)
  list(GET months ${month_index} month_name)
  string(REGEX REPLACE "^0?([0-9][0-9])$" "\\1" padded_day "0${day}")
  set(${arg_EPOCH} ${epoch} PARENT_SCOPE)
  set(${arg_RFC2822} "${weekday_name}, ${padded_day} ${month_name} ${year} 00:00:00 +0000" PARENT_SCOPE)
endfunction()
