// Keeps kel3_core a valid library while its folders are still empty.
