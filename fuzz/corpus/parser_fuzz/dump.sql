/*!40101 SET NAMES utf8mb4 */;
--
-- c
CREATE TABLE `t` (
  `a` int
);
INSERT INTO `t` VALUES ('it\'s\n;'),('x');
