-- Demo account database QZdata_001_2024: 北京华泰商贸有限公司, fiscal year 2024.
-- Small but complete ledger data with a few deliberate faults for the demo checks:
--   unbalanced vouchers (记-3-0004, 记-6-0002), entries on accounts that do not exist (1123, 660299),
--   duplicated account codes (1221, 6602) and customer codes (C002, C003), negative stock,
--   gaps in voucher numbers (periods 3 and 5), a period without vouchers (4),
--   vouchers not yet audited or audited but not booked.

create table SysOption (cOption varchar(30) not null, cValue nvarchar(60), cMemo nvarchar(60))
insert into SysOption (cOption, cValue, cMemo) values
 ('AccountName', N'北京华泰商贸有限公司', N'账套名称'),
 ('GL_StartPeriod', '2024-01', N'总账启用期间'),
 ('IA_Enabled', '0', N'存货核算是否启用')

create table Period (iYear int not null, iPeriod int not null, dBegin datetime not null, dEnd datetime not null, bClosed bit not null)
insert into Period (iYear, iPeriod, dBegin, dEnd, bClosed) values
 (2024, 1, '2024-01-01', '2024-01-31', 1),
 (2024, 2, '2024-02-01', '2024-02-29', 1),
 (2024, 3, '2024-03-01', '2024-03-31', 1),
 (2024, 4, '2024-04-01', '2024-04-30', 1),
 (2024, 5, '2024-05-01', '2024-05-31', 0),
 (2024, 6, '2024-06-01', '2024-06-30', 0),
 (2024, 7, '2024-07-01', '2024-07-31', 0),
 (2024, 8, '2024-08-01', '2024-08-31', 0),
 (2024, 9, '2024-09-01', '2024-09-30', 0),
 (2024, 10, '2024-10-01', '2024-10-31', 0),
 (2024, 11, '2024-11-01', '2024-11-30', 0),
 (2024, 12, '2024-12-01', '2024-12-31', 0)

-- 科目
create table Account (iID int not null, cCode varchar(20) not null, cName nvarchar(40) not null,
  iGrade int not null, cType nvarchar(4) not null, cDirection nvarchar(2) not null, bEnd bit not null)
insert into Account (iID, cCode, cName, iGrade, cType, cDirection, bEnd) values
 (1, '1001', N'库存现金', 1, N'资产', N'借', 1),
 (2, '1002', N'银行存款', 1, N'资产', N'借', 0),
 (3, '100201', N'工商银行', 2, N'资产', N'借', 1),
 (4, '100202', N'建设银行', 2, N'资产', N'借', 1),
 (5, '1122', N'应收账款', 1, N'资产', N'借', 1),
 (6, '1221', N'其他应收款', 1, N'资产', N'借', 1),
 (7, '1405', N'库存商品', 1, N'资产', N'借', 1),
 (8, '1601', N'固定资产', 1, N'资产', N'借', 1),
 (9, '1602', N'累计折旧', 1, N'资产', N'贷', 1),
 (10, '1901', N'待处理财产损溢', 1, N'资产', N'借', 1),
 (11, '2202', N'应付账款', 1, N'负债', N'贷', 1),
 (12, '2211', N'应付职工薪酬', 1, N'负债', N'贷', 1),
 (13, '2221', N'应交税费', 1, N'负债', N'贷', 0),
 (14, '222101', N'应交增值税', 2, N'负债', N'贷', 1),
 (15, '4001', N'实收资本', 1, N'权益', N'贷', 1),
 (16, '4103', N'本年利润', 1, N'权益', N'贷', 1),
 (17, '6001', N'主营业务收入', 1, N'损益', N'贷', 1),
 (18, '6401', N'主营业务成本', 1, N'损益', N'借', 1),
 (19, '6602', N'管理费用', 1, N'损益', N'借', 1),
 (20, '6603', N'财务费用', 1, N'损益', N'借', 1),
 (21, '1221', N'其他应收款', 1, N'资产', N'借', 1),
 (22, '6602', N'管理费用', 1, N'损益', N'借', 1)

-- 客户
create table Customer (iID int not null, cCode varchar(20) not null, cName nvarchar(60), cAbbName nvarchar(20),
  cContact nvarchar(10), cPhone varchar(20), cAddress nvarchar(60))
insert into Customer (iID, cCode, cName, cAbbName, cContact, cPhone, cAddress) values
 (1, 'C001', N'北京华联商厦股份有限公司', N'华联商厦', N'刘建国', '010-65123456', N'北京市朝阳区建国路88号'),
 (2, 'C002', N'上海恒丰电子有限公司', N'恒丰电子', N'陈静', '021-62345678', N'上海市静安区恒丰路218号'),
 (3, 'C003', N'广州市南方建材有限公司', N'南方建材', N'黄志强', '020-87654321', N'广州市天河区天河北路233号'),
 (4, 'C004', N'深圳前海云智科技有限公司', N'云智科技', N'吴敏', '0755-86001234', N'深圳市南山区前海大道1号'),
 (5, 'C005', N'杭州西湖龙井茶业有限公司', N'西湖茶业', N'周婷', '0571-87001122', N'杭州市西湖区龙井路15号'),
 (6, 'C003', N'广州南方建材公司', N'南方建材', N'黄志强', '020-87654321', N'广州市天河区天河北路233号'),
 (7, 'C006', N'成都天府食品有限公司', N'天府食品', N'郑磊', '028-85123400', N'成都市武侯区人民南路四段9号'),
 (8, 'C007', N'武汉长江物流有限公司', N'长江物流', N'孙亮', '027-82765000', N'武汉市江岸区沿江大道160号'),
 (9, 'C002', N'上海恒丰电子', N'恒丰', N'陈静', '021-62345678', N'上海市静安区恒丰路218号')

-- 凭证
create table Voucher (iID int not null, iPeriod int not null, cSign nvarchar(2) not null, iNo int not null,
  dDate datetime not null, cMaker nvarchar(10), cChecker nvarchar(10), bBooked bit not null)
insert into Voucher (iID, iPeriod, cSign, iNo, dDate, cMaker, cChecker, bBooked) values
 (1, 1, N'记', 1, '2024-01-05', N'张丽', N'王强', 1),
 (2, 1, N'记', 2, '2024-01-10', N'张丽', N'王强', 1),
 (3, 1, N'记', 3, '2024-01-18', N'张丽', N'王强', 1),
 (4, 1, N'记', 4, '2024-01-31', N'李娜', N'王强', 1),
 (5, 2, N'记', 1, '2024-02-03', N'张丽', N'王强', 1),
 (6, 2, N'记', 2, '2024-02-15', N'张丽', N'王强', 1),
 (7, 2, N'记', 3, '2024-02-28', N'李娜', N'王强', 1),
 (8, 3, N'记', 1, '2024-03-05', N'张丽', N'王强', 1),
 (9, 3, N'记', 2, '2024-03-12', N'张丽', N'王强', 1),
 (10, 3, N'记', 4, '2024-03-20', N'李娜', N'王强', 1),
 (11, 3, N'记', 5, '2024-03-31', N'李娜', N'王强', 1),
 (12, 5, N'记', 1, '2024-05-08', N'张丽', N'王强', 0),
 (13, 5, N'记', 2, '2024-05-16', N'张丽', N'王强', 0),
 (14, 5, N'记', 5, '2024-05-25', N'李娜', N'王强', 0),
 (15, 6, N'记', 1, '2024-06-06', N'张丽', null, 0),
 (16, 6, N'记', 2, '2024-06-28', N'李娜', null, 0)

-- 凭证分录
create table VoucherLine (iVoucherID int not null, iRow int not null, cDigest nvarchar(60), cAccCode varchar(20) not null,
  cCusCode varchar(20), mDebit decimal(18, 2) not null, mCredit decimal(18, 2) not null)
insert into VoucherLine (iVoucherID, iRow, cDigest, cAccCode, cCusCode, mDebit, mCredit) values
 (1, 1, N'收到股东投资款', '100201', null, 500000.00, 0),
 (1, 2, N'收到股东投资款', '4001', null, 0, 500000.00),
 (2, 1, N'提取备用金', '1001', null, 20000.00, 0),
 (2, 2, N'提取备用金', '100201', null, 0, 20000.00),
 (3, 1, N'销售笔记本电脑', '1122', 'C001', 113000.00, 0),
 (3, 2, N'销售笔记本电脑', '6001', null, 0, 100000.00),
 (3, 3, N'销项税额', '222101', null, 0, 13000.00),
 (4, 1, N'结转1月销售成本', '6401', null, 72000.00, 0),
 (4, 2, N'结转1月销售成本', '1405', null, 0, 72000.00),
 (5, 1, N'采购办公设备', '1405', null, 90000.00, 0),
 (5, 2, N'进项税额', '222101', null, 11700.00, 0),
 (5, 3, N'采购办公设备', '2202', null, 0, 101700.00),
 (6, 1, N'收到华联商厦货款', '100201', null, 113000.00, 0),
 (6, 2, N'收到华联商厦货款', '1122', 'C001', 0, 113000.00),
 (7, 1, N'计提2月工资', '6602', null, 35000.00, 0),
 (7, 2, N'计提2月工资', '2211', null, 0, 35000.00),
 (8, 1, N'支付供应商货款', '2202', null, 101700.00, 0),
 (8, 2, N'支付供应商货款', '100202', null, 0, 101700.00),
 (9, 1, N'销售打印机', '1122', 'C002', 56500.00, 0),
 (9, 2, N'销售打印机', '6001', null, 0, 50000.00),
 (9, 3, N'销项税额', '222101', null, 0, 6500.00),
 (10, 1, N'报销差旅费', '6602', null, 3860.00, 0),
 (10, 2, N'报销差旅费', '1001', null, 0, 3680.00),
 (11, 1, N'银行手续费', '6603', null, 125.50, 0),
 (11, 2, N'银行手续费', '100201', null, 0, 125.50),
 (12, 1, N'销售复印纸', '1122', 'C003', 33900.00, 0),
 (12, 2, N'销售复印纸', '6001', null, 0, 30000.00),
 (12, 3, N'销项税额', '222101', null, 0, 3900.00),
 (13, 1, N'预付仓库租金', '1123', null, 8000.00, 0),
 (13, 2, N'预付仓库租金', '100201', null, 0, 8000.00),
 (14, 1, N'购买办公用品', '6602', null, 2400.00, 0),
 (14, 2, N'购买办公用品', '1001', null, 0, 2400.00),
 (15, 1, N'销售茶叶礼盒', '1122', 'C005', 22600.00, 0),
 (15, 2, N'销售茶叶礼盒', '6001', null, 0, 20000.00),
 (15, 3, N'销项税额', '222101', null, 0, 2600.00),
 (16, 1, N'计提6月折旧', '660299', null, 4500.00, 0),
 (16, 2, N'计提6月折旧', '1602', null, 0, 4050.00)

-- 库存
create table Warehouse (cCode varchar(10) not null, cName nvarchar(30) not null)
insert into Warehouse (cCode, cName) values ('W01', N'总部仓库'), ('W02', N'朝阳门店仓')

create table Inventory (cCode varchar(20) not null, cName nvarchar(40) not null, cSpec nvarchar(30),
  cUnit nvarchar(4), cValuation nvarchar(10))
insert into Inventory (cCode, cName, cSpec, cUnit, cValuation) values
 ('I001', N'联想ThinkPad E14笔记本电脑', N'i5/16G/512G', N'台', N'全月平均'),
 ('I002', N'得力A4复印纸', N'70g 500张/包 8包/箱', N'箱', N'全月平均'),
 ('I003', N'罗技M330无线鼠标', N'黑色', N'个', N'移动平均'),
 ('I004', N'晨光中性笔', N'0.5mm 12支/盒', N'盒', N'移动平均'),
 ('I005', N'惠普LaserJet M1136打印机', N'黑白激光', N'台', N'先进先出')

create table Stock (cWhCode varchar(10) not null, cInvCode varchar(20) not null, nQty decimal(18, 2) not null,
  mAmount decimal(18, 2) not null)
insert into Stock (cWhCode, cInvCode, nQty, mAmount) values
 ('W01', 'I001', 12, 54000.00),
 ('W01', 'I002', 85, 1700.00),
 ('W01', 'I003', 40, 2600.00),
 ('W01', 'I004', -20, -240.00),
 ('W01', 'I005', 6, 7200.00),
 ('W02', 'I002', 10, 200.00),
 ('W02', 'I003', -5, -325.00),
 ('W02', 'I004', 30, 360.00)

-- 库存调整记录 (written by the negative-stock repair)
create table StockAdjust (cWhCode varchar(10) not null, cInvCode varchar(20) not null, nQty decimal(18, 2) not null,
  mAmount decimal(18, 2) not null, cReason nvarchar(60), dDate datetime)
