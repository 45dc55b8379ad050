-- The demo schema: the table of the help document's two sample workbooks,
-- the sequence the second one fills from, and a small EMP/DEPT pair to
-- export from. Run with: xlsbridge-cli sql --data-source demo.db --file demo.sql

create table ZORVAT (
  AA     varchar2(10) primary key,
  BB     number,
  CC     date,
  SEQ_NN number,
  DD     number
);

create sequence SEQ_TBXH start with 1 increment by 1;

create table DEPT (
  DEPTNO number(2) primary key,
  DNAME  varchar2(14),
  LOC    varchar2(13)
);

insert into DEPT values (10, 'ACCOUNTING', 'NEW YORK');
insert into DEPT values (20, 'RESEARCH', 'DALLAS');
insert into DEPT values (30, 'SALES', 'CHICAGO');
insert into DEPT values (40, 'OPERATIONS', 'BOSTON');

create table EMP (
  EMPNO    number(4) primary key,
  ENAME    varchar2(10),
  JOB      varchar2(9),
  MGR      number(4),
  HIREDATE date,
  SAL      number(7,2),
  COMM     number(7,2),
  DEPTNO   number(2) references DEPT(DEPTNO)
);

insert into EMP values (7839, 'KING', 'PRESIDENT', null, to_date('1981-11-17','yyyy-mm-dd'), 5000, null, 10);
insert into EMP values (7698, 'BLAKE', 'MANAGER', 7839, to_date('1981-05-01','yyyy-mm-dd'), 2850, null, 30);
insert into EMP values (7782, 'CLARK', 'MANAGER', 7839, to_date('1981-06-09','yyyy-mm-dd'), 2450, null, 10);
insert into EMP values (7566, 'JONES', 'MANAGER', 7839, to_date('1981-04-02','yyyy-mm-dd'), 2975, null, 20);
insert into EMP values (7654, 'MARTIN', 'SALESMAN', 7698, to_date('1981-09-28','yyyy-mm-dd'), 1250, 1400, 30);
insert into EMP values (7499, 'ALLEN', 'SALESMAN', 7698, to_date('1981-02-20','yyyy-mm-dd'), 1600, 300, 30);
insert into EMP values (7844, 'TURNER', 'SALESMAN', 7698, to_date('1981-09-08','yyyy-mm-dd'), 1500, 0, 30);
insert into EMP values (7900, 'JAMES', 'CLERK', 7698, to_date('1981-12-03','yyyy-mm-dd'), 950, null, 30);
insert into EMP values (7521, 'WARD', 'SALESMAN', 7698, to_date('1981-02-22','yyyy-mm-dd'), 1250, 500, 30);
insert into EMP values (7902, 'FORD', 'ANALYST', 7566, to_date('1981-12-03','yyyy-mm-dd'), 3000, null, 20);
insert into EMP values (7369, 'SMITH', 'CLERK', 7902, to_date('1980-12-17','yyyy-mm-dd'), 800, null, 20);
insert into EMP values (7788, 'SCOTT', 'ANALYST', 7566, to_date('1987-04-19','yyyy-mm-dd'), 3000, null, 20);
insert into EMP values (7876, 'ADAMS', 'CLERK', 7788, to_date('1987-05-23','yyyy-mm-dd'), 1100, null, 20);
insert into EMP values (7934, 'MILLER', 'CLERK', 7782, to_date('1982-01-23','yyyy-mm-dd'), 1300, null, 10);
