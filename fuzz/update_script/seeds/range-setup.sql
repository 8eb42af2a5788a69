/*alias>data_db*/
/*hist_tbl>upd_log*/
/*stepname>docs|10|doc_id*//*12*/
/*sqlstart>12*/
update docs set n = n + 1 where
/*sqlstop*/
