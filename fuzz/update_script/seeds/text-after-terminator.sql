/*manystart>5*/
update t set a = 1;
update t set b = 2
/*manystop*/
