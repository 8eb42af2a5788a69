/*sqlstart>3*/
update t set a = 1
/*sqlstop*/
