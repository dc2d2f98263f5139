# cmake -DINPUT=FILE -DOUTPUT=FILE.gz -P Gzip.cmake: FILE compressed with gzip, without a time
# stamp or a name in the header, so that the same page gives the same bytes.
file(ARCHIVE_CREATE OUTPUT "${OUTPUT}.new" PATHS "${INPUT}" FORMAT raw COMPRESSION GZip
     COMPRESSION_LEVEL 9)
file(RENAME "${OUTPUT}.new" "${OUTPUT}")
